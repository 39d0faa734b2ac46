// Details recorded on a product's waypoint: contents, languages, features, custom and configured
// properties, each as a new state with two attributes, and extra data on an existing state.
#include "../analytics/helpers.h"
#include "../run/log.h"
#include "../run/run_state.h"
#include "TEVUtil.h"
#include "setup_report.h"

namespace tev {

namespace {

struct DetailRecord {
    const TEVChar* state;
    const TEVChar* firstAttribute;
    const TEVChar* secondAttribute;
};

const DetailRecord kConfiguredProperty = {TEV_TEXT("s.product.configured"),
                                          TEV_TEXT("a.product.configured.name"),
                                          TEV_TEXT("a.product.configured.value")};
const DetailRecord kContent = {TEV_TEXT("s.product.content"), TEV_TEXT("a.product.contentname"),
                               TEV_TEXT("a.product.contentpath")};
const DetailRecord kCustom = {TEV_TEXT("s.product.other"), TEV_TEXT("a.product.other.name"),
                              TEV_TEXT("a.product.other.value")};
const DetailRecord kFeature = {TEV_TEXT("s.product.feature"), TEV_TEXT("a.product.featurename"),
                               TEV_TEXT("a.product.featureaction")};
const DetailRecord kLanguage = {TEV_TEXT("s.product.language"), TEV_TEXT("a.product.language"),
                                TEV_TEXT("a.product.islanguagedownloaded")};

CMLAttribute* Attach(CMLState* state, const TEVChar* name, const TEVChar* value) {
    return AttachTextAttribute(state, name, TextOrEmpty(value));
}

CMLAttribute* Attach(CMLState* state, const TEVChar* name, int value) {
    return AttachIntAttribute(state, name, value);
}

// One routine for the five state-recording entries: a new state on the product's waypoint, added
// before its two attributes are made. Refused attributes are missing; the call still succeeds.
template <typename SecondValue>
bool RecordProductDetail(const DetailRecord& record, const TEVChar* productName,
                         const TEVChar* firstValue, SecondValue secondValue) {
    return Contained(false, [&] {
        if (!runState.enabled) return false;
        CMLWaypoint* product = GetProductWaypoint(TextOrEmpty(productName));
        if (!product) return false;
        CMLState* state = CMLState::Create(record.state);
        if (!state) return false;
        product->Add(state);  // the state now belongs to the product's waypoint
        Attach(state, record.firstAttribute, firstValue);
        Attach(state, record.secondAttribute, secondValue);
        return true;
    });
}

}  // namespace

}  // namespace tev

using namespace tev;

bool TEVUtil::AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                    const TEVChar* propertyValue) {
    return RecordProductDetail(kConfiguredProperty, productName, propertyName, propertyValue);
}

bool TEVUtil::AddConfiguredProperty(const TEVChar* productName, const TEVChar* propertyName,
                                    int propertyValue) {
    if (!runState.enabled) return false;
    return AddConfiguredProperty(productName, propertyName, FormatDecimal(propertyValue).c_str());
}

bool TEVUtil::AddContent(const TEVChar* productName, const TEVChar* contentName,
                         const TEVChar* contentPath) {
    return RecordProductDetail(kContent, productName, contentName, contentPath);
}

bool TEVUtil::AddCustom(const TEVChar* productName, const TEVChar* customName,
                        const TEVChar* customValue) {
    return RecordProductDetail(kCustom, productName, customName, customValue);
}

bool TEVUtil::AddFeature(const TEVChar* productName, const TEVChar* featureName,
                         int featureAction) {
    return RecordProductDetail(kFeature, productName, featureName, featureAction);
}

bool TEVUtil::AddLang(const TEVChar* productName, const TEVChar* language, int languageDownloaded) {
    return RecordProductDetail(kLanguage, productName, language, languageDownloaded);
}

bool TEVUtil::AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                        const TEVChar* attributeValue) {
    return Contained(false, [&] {
        if (!runState.enabled) return false;
        productName = TextOrEmpty(productName);
        attributeName = TextOrEmpty(attributeName);
        attributeValue = TextOrEmpty(attributeValue);
        CMLWaypoint* product = GetProductWaypoint(productName);
        if (!product) return false;
        CMLState* state = product->GetState();  // stays the waypoint's
        if (!state) return false;
        AttachTextAttribute(state, attributeName, attributeValue);
        // The log shows the product name as the installer gave it.
        WriteLog({TEV_TEXT("PRODUCTNRDATA"), productName, attributeName, attributeValue});
        return true;
    });
}

bool TEVUtil::AddNRData(const TEVChar* productName, const TEVChar* attributeName,
                        int attributeValue) {
    if (!runState.enabled) return false;
    return AddNRData(productName, attributeName, FormatDecimal(attributeValue).c_str());
}
