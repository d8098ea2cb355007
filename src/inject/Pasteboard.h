#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zarn::inject {

// The bytes one pasteboard item holds under one type.
struct TypedData {
    std::string type;   // e.g. "text/plain", "UTF8_STRING", "image/png"
    std::string bytes;  // raw, exactly as the owner gave them
    bool operator==(const TypedData&) const = default;
};

// One pasteboard item: every type it offers, in the owner's order. No readable data gives
// an empty item, which still counts as an item.
using PasteboardItem = std::vector<TypedData>;
using PasteboardSnapshot = std::vector<PasteboardItem>;

// The system clipboard as the text injection needs it. Main thread only.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Every item with every type and its bytes; nullopt when the pasteboard gives no item
    // list at all.
    virtual std::optional<PasteboardSnapshot> items() = 0;
    virtual void clearContents() = 0;
    // Makes `text` the only content, as plain text.
    virtual void setString(const std::string& text) = 0;
    virtual void writeItems(const PasteboardSnapshot& items) = 0;
    // Grows whenever the content changes, by this process or by anyone else, so a caller can
    // tell that the user copied something since it last looked.
    virtual std::int64_t changeCount() = 0;
};

}  // namespace zarn::inject
