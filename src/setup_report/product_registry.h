// The product waypoints of a run, kept by product name without regard to ASCII letter case.
#ifndef TEV_SETUP_REPORT_PRODUCT_REGISTRY_H
#define TEV_SETUP_REPORT_PRODUCT_REGISTRY_H

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>

#include "../base/text.h"
#include "../kv8_interface/KV8.h"

namespace tev {

// The order of names by their UTF-16 code units, as std::less<> gives it, found four code units at
// a time: product names share long prefixes ("studio.core-..."), and the standard library compares
// 16-bit code units one by one. Transparent, so that a name is looked up as a view, without
// building a key.
struct CodeUnitOrder {
    using is_transparent = void;

    bool operator()(WideView a, WideView b) const noexcept {
        static_assert(sizeof(TEVChar) == 2 && std::endian::native == std::endian::little);
        std::size_t common = a.size() < b.size() ? a.size() : b.size();
        std::size_t i = 0;
        for (; i + 4 <= common; i += 4) {
            std::uint64_t left, right;
            std::memcpy(&left, a.data() + i, sizeof left);
            std::memcpy(&right, b.data() + i, sizeof right);
            if (left != right) {
                // Little-endian: the lowest differing bit lies in the first differing code unit.
                i += static_cast<std::size_t>(std::countr_zero(left ^ right)) / 16;
                return a[i] < b[i];
            }
        }
        for (; i < common; ++i)
            if (a[i] != b[i]) return a[i] < b[i];
        return a.size() < b.size();
    }
};

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

// Product waypoints by lower-cased product name, in the order of their names' UTF-16 code units;
// null where a product's waypoint could not be made.
using ProductMap = std::map<WideString, CMLWaypoint*, CodeUnitOrder>;

// The waypoints are plain pointers: the registry owns them until they are handed over or
// destroyed, and clearing them releases nothing.
class ProductRegistry {
public:
    // The product's waypoint, found by its name with ASCII letters lower-cased (the one place
    // where product names are), made on its first mention with "s.productlist" holding
    // "a.product.name" = that lower-cased name; null when the analytics library refuses any of
    // them. The waypoint stays the registry's.
    CMLWaypoint* FindOrAdd(const TEVChar* productName);
    // Hands every product waypoint to the analytics library, in name order.
    void ReachAll();
    // Destroys, unsent, every product waypoint.
    void DestroyAll();
    // Drops every product (each handed over or destroyed) and gives the memory back.
    void Clear() { ProductMap().swap(products_); }

    const ProductMap& Map() const { return products_; }
    ProductMap& Map() { return products_; }

private:
    ProductMap products_;
};

}  // namespace tev

#endif
