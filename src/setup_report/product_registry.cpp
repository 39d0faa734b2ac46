// The registry of product waypoints, keyed by product name without regard to ASCII letter case.
#include "../analytics/helpers.h"
#include "../run/log.h"
#include "../run/run_state.h"
#include "setup_report.h"

namespace tev {

LowerCaseName::LowerCaseName(WideView name) : length_(name.size()) {
    TEVChar* out = local_;
    if (length_ >= kLocal) {
        heap_.resize(length_);
        out = heap_.data();
    }
    for (std::size_t i = 0; i < length_; ++i) {
        TEVChar unit = name[i];
        out[i] = unit >= TEV_TEXT('A') && unit <= TEV_TEXT('Z')
                     ? static_cast<TEVChar>(unit - TEV_TEXT('A') + TEV_TEXT('a'))
                     : unit;
    }
    out[length_] = 0;
    text_ = out;
}

CMLWaypoint* GetProductWaypoint(const TEVChar* productName) {
    LowerCaseName key(productName);
    ProductMap& products = runState.products;
    // The first name not before the key is the key itself unless the key sorts before it.
    auto entry = products.lower_bound(key.view());
    if (entry == products.end() || products.key_comp()(key.view(), entry->first))
        entry = products.emplace_hint(entry, WideString(key.view()), nullptr);
    else if (entry->second)
        return entry->second;

    // First mention, or an earlier attempt failed: the entry stays empty until all is made.
    CMLWaypoint* waypoint = CMLWaypoint::Create(TEV_TEXT("wp.product"));
    if (!waypoint) return nullptr;
    CMLState* productList = CMLState::Create(TEV_TEXT("s.productlist"));
    if (!productList) {
        waypoint->Destroy();
        return nullptr;
    }
    if (!AttachTextAttribute(productList, TEV_TEXT("a.product.name"), key.c_str())) {
        productList->Destroy();
        waypoint->Destroy();
        return nullptr;
    }
    waypoint->Add(productList);  // the state now belongs to the waypoint
    entry->second = waypoint;
    return waypoint;
}

bool CommitProducts() {
    if (!runState.enabled) return false;
    for (const auto& [name, waypoint] : runState.products)
        if (waypoint) ReachWaypoint(waypoint);  // the library now owns it
    WriteLog({TEV_TEXT("CommitProducts()")});
    return true;
}

void DiscardSetupReport() {
    if (runState.setupWaypoint) runState.setupWaypoint->Destroy();
    for (const auto& [name, waypoint] : runState.products)
        if (waypoint) waypoint->Destroy();
}

}  // namespace tev
