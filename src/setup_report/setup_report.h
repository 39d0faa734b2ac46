// The setup report: "wp.setup" with its one state "s.setup" collecting free attributes, and one
// "wp.product" per product, all kept until the end of the run.
#ifndef TEV_SETUP_REPORT_SETUP_REPORT_H
#define TEV_SETUP_REPORT_SETUP_REPORT_H

#include "../log/log.h"
#include "../vocabulary/report_names.h"
#include "../kv8_interface/KV8.h"
#include "product_registry.h"

namespace tev {

// What the report holds is the report's until Commit hands it to the analytics library or
// DestroyUnsent destroys it. Texts are taken as the installer gives them, a null pointer as the
// empty text.
class SetupReport {
public:
    explicit SetupReport(Log& log) : log_(log) {}
    SetupReport(const SetupReport&) = delete;
    SetupReport& operator=(const SetupReport&) = delete;

    // Creates "wp.setup" with "s.setup" and the attribute "a.setup" = "0" (logged as any other).
    void Create();
    // Adds a free attribute to "s.setup" and logs it. A refused attribute is missing from the
    // report; the call is still logged.
    void AddAttribute(const TEVChar* name, const TEVChar* value);
    // A new state on the product's waypoint, added before its two attributes are made. Refused
    // attributes are missing; false when the product's waypoint or the state could not be made.
    bool AddProductDetail(const names::ProductDetail& detail, const TEVChar* productName,
                          const TEVChar* firstValue, const TEVChar* secondValue);
    // An attribute on the first state of the product's waypoint ("s.productlist"), logged with the
    // product's name as given; false when there is no such state.
    bool AddProductAttribute(const TEVChar* productName, const TEVChar* name, const TEVChar* value);

    // Logs "CommitSetupWaypoint" and hands "wp.setup" to the analytics library, then every product
    // waypoint in name order, and logs "CommitProducts()".
    void Commit();
    // Destroys, unsent, what the report still holds.
    void DestroyUnsent();
    // Back to an empty report (whatever it held has been handed over or destroyed).
    void Clear();

    ProductRegistry& Products() { return products_; }
    // Nothing kept: no setup waypoint, no product.
    bool HoldsNothing() const { return !waypoint_ && !state_ && products_.Map().empty(); }

private:
    Log& log_;
    CMLWaypoint* waypoint_ = nullptr;
    CMLState* state_ = nullptr;  // belongs to waypoint_
    ProductRegistry products_;
};

}  // namespace tev

#endif
