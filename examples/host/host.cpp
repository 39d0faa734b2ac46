// A setup program's calls into TEV: one run, from start to end, as an installer makes them.
#include <cstdio>

#include "TEVUtil.h"

int main() {
    std::printf("reporting through TEV %s\n", TEV_VERSION_STRING);
    TEVUtil::InitML(true);  // the run begins; the log is Setup_TEV.log in the temporary directory
    TEVUtil::AddAttributeToSetup(TEV_TEXT("setup.version"), TEV_TEXT("4.2.1"));

    TEVUtil::wpSetupPhase(TEVUtil::eConfiguration, true);
    TEVUtil::AddFeature(TEV_TEXT("Studio"), TEV_TEXT("Help"), 3);
    TEVUtil::wpSetupPhase(TEVUtil::eConfiguration, false);

    TEVUtil::DownloadBegin(TEV_TEXT("https://downloads.example.com/studio/core.cab"));
    TEVUtil::DownloadEnd(TEV_TEXT("https://downloads.example.com/studio/core.cab"));

    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, true);
    TEVUtil::InstallBegin(TEV_TEXT("Studio"));
    TEVUtil::AddContent(TEV_TEXT("Studio"), TEV_TEXT("Core"), TEV_TEXT("C:\\Setup\\core.msi"));
    TEVUtil::InstallError(TEV_TEXT("Studio"), TEV_TEXT("Error 1603"));
    TEVUtil::wpSetupPhase(TEVUtil::eInstallation, false);

    // The setup report and every product's record go to the analytics library now.
    return TEVUtil::ShutdownML() ? 0 : 1;
}
