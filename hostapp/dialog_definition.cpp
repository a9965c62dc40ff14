#include "hostapp/dialog_definition.h"

#include <cstring>

namespace hostapp {
namespace {

constexpr size_t kItemHeadSize = 20;

uint16_t Word(const uint8_t* at) {
    return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t Long(const uint8_t* at) {
    return static_cast<uint32_t>(Word(at)) | (static_cast<uint32_t>(Word(at + 2)) << 16);
}

bool Fail(std::string& error, size_t offset, const std::string& what) {
    error = "offset " + std::to_string(offset) + ": " + what;
    return false;
}

// One item: the 20-byte head and its zero-terminated text, which must end
// within the entry.
bool ParseItem(const uint8_t* block, size_t& at, size_t end, DialogItem& item, std::string& error) {
    if (end - at < kItemHeadSize + 1)
        return Fail(error, at, "item cut short");
    const uint8_t* head = block + at;
    item.kind = Word(head);
    item.id = Word(head + 2);
    item.flags = Word(head + 4);
    item.hot_key = Word(head + 6);
    item.column = Word(head + 8);
    item.row = Word(head + 10);
    item.width = Word(head + 12);
    item.height = Word(head + 14);
    item.extra = Long(head + 16);
    const size_t text_at = at + kItemHeadSize;
    const void* zero = memchr(block + text_at, 0, end - text_at);
    if (!zero)
        return Fail(error, text_at, "item text without its terminator");
    const size_t length = static_cast<const uint8_t*>(zero) - (block + text_at);
    item.text.assign(reinterpret_cast<const char*>(block + text_at), length);
    at = text_at + length + 1;
    return true;
}

}  // namespace

bool ParseDialogDefinition(const uint8_t* block, size_t size, std::vector<Dialog>& dialogs,
                           std::string& error) {
    dialogs.clear();
    error.clear();
    if (!block || size < 4)
        return Fail(error, 0, "no length word");
    const uint32_t length = Long(block);
    if (length > size - 4)
        return Fail(error, 0, "length " + std::to_string(length) + " beyond the block");
    const size_t end = 4 + static_cast<size_t>(length);
    size_t at = 4;
    while (at < end) {
        if (end - at < 4)
            return Fail(error, at, "dialog entry head cut short");
        const size_t entry_length = Word(block + at);
        const size_t controls = Word(block + at + 2);
        const size_t entry_end = at + 4 + entry_length;
        if (entry_end > end)
            return Fail(error, at, "dialog entry longer than the block");
        size_t item_at = at + 4;
        Dialog dialog;
        if (!ParseItem(block, item_at, entry_end, dialog.self, error))
            return false;
        if (dialog.self.kind != kControlDialog)
            return Fail(error, at + 4, "entry does not start with a dialog item");
        for (size_t i = 0; i < controls; ++i) {
            DialogItem control;
            if (!ParseItem(block, item_at, entry_end, control, error))
                return false;
            dialog.controls.push_back(std::move(control));
        }
        if (item_at != entry_end)
            return Fail(error, item_at, "entry length disagrees with its items");
        dialogs.push_back(std::move(dialog));
        at = entry_end;
    }
    return true;
}

const Dialog* FindDialog(const std::vector<Dialog>& dialogs, int number) {
    for (const Dialog& dialog : dialogs)
        if (dialog.self.id == number)
            return &dialog;
    return nullptr;
}

std::vector<std::string_view> SplitCells(std::string_view row) {
    std::vector<std::string_view> cells;
    size_t from = 0;
    for (;;) {
        const size_t cr = row.find('\r', from);
        cells.push_back(row.substr(from, cr == std::string_view::npos ? row.npos : cr - from));
        if (cr == std::string_view::npos)
            return cells;
        from = cr + 1;
    }
}

bool ParseColumns(std::string_view text, std::vector<Column>& columns) {
    std::vector<Column> parsed;
    for (std::string_view cell : SplitCells(text)) {
        if (cell.empty() || (cell[0] != 'l' && cell[0] != 'p'))
            return false;
        Column column;
        column.right = cell[0] == 'p';
        size_t i = 1;
        while (i < cell.size() && i < 4 && cell[i] >= '0' && cell[i] <= '9')
            column.width = column.width * 10 + static_cast<size_t>(cell[i++] - '0');
        if (i == 1)
            return false;
        column.heading = std::string(cell.substr(i));
        parsed.push_back(std::move(column));
    }
    columns = std::move(parsed);
    return true;
}

}  // namespace hostapp
