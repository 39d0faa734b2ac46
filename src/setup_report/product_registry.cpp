#include "product_registry.h"

#include "../kv8_client/event_building.h"
#include "../vocabulary/report_names.h"

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

CMLWaypoint* ProductRegistry::FindOrAdd(const TEVChar* productName) {
    LowerCaseName key(productName);
    // The first name not before the key is the key itself unless the key sorts before it.
    auto entry = products_.lower_bound(key.view());
    if (entry == products_.end() || products_.key_comp()(key.view(), entry->first))
        entry = products_.emplace_hint(entry, WideString(key.view()), nullptr);
    else if (entry->second)
        return entry->second;

    // First mention, or an earlier attempt failed: the entry stays empty until all is made.
    CMLWaypoint* waypoint = CMLWaypoint::Create(names::kProductWaypoint);
    if (!waypoint) return nullptr;
    CMLState* productList = CMLState::Create(names::kProductListState);
    if (!productList) {
        waypoint->Destroy();
        return nullptr;
    }
    if (!AttachAttribute(productList, names::kProductName, key.c_str())) {
        productList->Destroy();
        waypoint->Destroy();
        return nullptr;
    }
    waypoint->Add(productList);  // the state now belongs to the waypoint
    entry->second = waypoint;
    return waypoint;
}

void ProductRegistry::ReachAll() {
    for (const auto& [name, waypoint] : products_) ReachWaypoint(waypoint);
}

void ProductRegistry::DestroyAll() {
    for (const auto& [name, waypoint] : products_)
        if (waypoint) waypoint->Destroy();
}

}  // namespace tev
