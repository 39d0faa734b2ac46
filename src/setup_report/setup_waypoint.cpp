// "wp.setup": one state "s.setup" collecting free attributes during the whole run.
#include "../analytics/helpers.h"
#include "../run/log.h"
#include "../run/run_state.h"
#include "TEVUtil.h"
#include "setup_report.h"

namespace tev {

void CreateSetupWaypoint() {
    if (!runState.enabled) return;
    runState.setupWaypoint = CMLWaypoint::Create(TEV_TEXT("wp.setup"));
    if (!runState.setupWaypoint) return;
    runState.setupState = CMLState::Create(TEV_TEXT("s.setup"));
    if (!runState.setupState) {
        runState.setupWaypoint->Destroy();
        runState.setupWaypoint = nullptr;
        return;
    }
    runState.setupWaypoint->Add(runState.setupState);  // the state now belongs to the waypoint
    TEVUtil::AddAttributeToSetup(TEV_TEXT("a.setup"), 0);
}

void CommitSetupWaypoint() {
    WriteLog({TEV_TEXT("CommitSetupWaypoint")});
    ReachWaypoint(runState.setupWaypoint);
}

}  // namespace tev

using namespace tev;

bool TEVUtil::AddAttributeToSetup(const TEVChar* attributeName, const TEVChar* attributeValue) {
    return Contained(false, [&] {
        if (!runState.enabled) return false;
        attributeName = TextOrEmpty(attributeName);
        attributeValue = TextOrEmpty(attributeValue);
        // A refused attribute is missing from the report; the call is still logged and succeeds.
        AttachTextAttribute(runState.setupState, attributeName, attributeValue);
        WriteLog({TEV_TEXT("SETUP"), attributeName, attributeValue});
        return true;
    });
}

bool TEVUtil::AddAttributeToSetup(const TEVChar* attributeName, int attributeValue) {
    if (!runState.enabled) return false;
    return AddAttributeToSetup(attributeName, FormatDecimal(attributeValue).c_str());
}
