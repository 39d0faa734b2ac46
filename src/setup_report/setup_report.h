// The setup report: "wp.setup" and one "wp.product" per product, kept until the end of the run.
#ifndef TEV_SETUP_REPORT_H
#define TEV_SETUP_REPORT_H

#include <cstddef>

#include "../text.h"
#include "KV8.h"

namespace tev {

// Creates "wp.setup" with its state "s.setup" and the attribute "a.setup" = "0".
void CreateSetupWaypoint();
// Logs "CommitSetupWaypoint" and hands the setup waypoint to the analytics library.
void CommitSetupWaypoint();

// A product name with ASCII letters lower-cased and every other code unit unchanged, held on the
// stack when it is short.
class LowerCaseName {
public:
    explicit LowerCaseName(WideView name);
    LowerCaseName(const LowerCaseName&) = delete;
    LowerCaseName& operator=(const LowerCaseName&) = delete;

    const TEVChar* c_str() const { return text_; }
    WideView view() const { return {text_, length_}; }

private:
    static constexpr std::size_t kLocal = 128;
    TEVChar local_[kLocal];
    WideString heap_;
    const TEVChar* text_;
    std::size_t length_;
};

// The product's waypoint, found by its name with ASCII letters lower-cased (the one place where
// product names are), made on its first mention with "s.productlist" holding "a.product.name" =
// that lower-cased name; null when the analytics library refuses any of them. The waypoint stays
// the registry's.
CMLWaypoint* GetProductWaypoint(const TEVChar* productName);
// Hands every product waypoint to the analytics library in name order, then logs
// "CommitProducts()". False when reporting is off.
bool CommitProducts();

// Discards, unsent, the setup waypoint and the product waypoints the system still owns.
void DiscardSetupReport();

}  // namespace tev

#endif
