#include "setup_report.h"

#include "../kv8_client/event_building.h"
#include "../base/decimal.h"

namespace tev {

using logformat::Token;

void SetupReport::Create() {
    waypoint_ = CMLWaypoint::Create(names::kSetupWaypoint);
    if (!waypoint_) return;
    state_ = AddState(waypoint_, names::kSetupState);
    if (!state_) {
        waypoint_->Destroy();
        waypoint_ = nullptr;
        return;
    }
    AddAttribute(names::kSetupAttribute, FormatDecimal(0).c_str());
}

void SetupReport::AddAttribute(const TEVChar* name, const TEVChar* value) {
    name = TextOrEmpty(name);
    value = TextOrEmpty(value);
    AttachAttribute(state_, name, value);
    log_.Write(Token::SetupAttribute, {name, value});
}

bool SetupReport::AddProductDetail(const names::ProductDetail& detail, const TEVChar* productName,
                                   const TEVChar* firstValue, const TEVChar* secondValue) {
    CMLWaypoint* product = products_.FindOrAdd(TextOrEmpty(productName));
    if (!product) return false;
    CMLState* state = AddState(product, detail.state);
    if (!state) return false;
    AttachAttribute(state, detail.firstAttribute, TextOrEmpty(firstValue));
    AttachAttribute(state, detail.secondAttribute, TextOrEmpty(secondValue));
    return true;
}

bool SetupReport::AddProductAttribute(const TEVChar* productName, const TEVChar* name,
                                      const TEVChar* value) {
    productName = TextOrEmpty(productName);
    name = TextOrEmpty(name);
    value = TextOrEmpty(value);
    CMLWaypoint* product = products_.FindOrAdd(productName);
    if (!product) return false;
    CMLState* state = product->GetState();  // stays the waypoint's
    if (!state) return false;
    AttachAttribute(state, name, value);
    log_.Write(Token::ProductData, {productName, name, value});
    return true;
}

void SetupReport::Commit() {
    log_.Write(Token::CommitSetupWaypoint);
    ReachWaypoint(waypoint_);
    products_.ReachAll();
    log_.Write(Token::CommitProducts);
}

void SetupReport::DestroyUnsent() {
    if (waypoint_) waypoint_->Destroy();
    products_.DestroyAll();
}

void SetupReport::Clear() {
    waypoint_ = nullptr;
    state_ = nullptr;
    products_.Clear();
}

}  // namespace tev
