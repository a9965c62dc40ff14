// The plug-in's DialogDefinition block as the host reads it: dialogs measured
// in character cells, each with its controls. The block comes from the
// plug-in's memory, so reading it never trusts a length or count in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_records.h"  // ControlKind

namespace hostapp {

struct DialogItem {
    uint16_t kind = 0;
    uint16_t id = 0;  // the dialog's number on the dialog's own item
    uint16_t flags = 0;
    uint16_t hot_key = 0;
    uint16_t column = 0;
    uint16_t row = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t extra = 0;
    std::string text;  // Mazovia bytes, control bytes included
};

struct Dialog {
    DialogItem self;  // kind 0xFFFF, id the dialog's number, title as text
    std::vector<DialogItem> controls;
};

// Reads a whole block: the 4-byte length of what follows, then the dialog
// entries. size is what the caller holds of the block, the length word
// included. False with a reason (offset and what is wrong) when the block is
// cut short or inconsistent; dialogs then holds the entries read before it.
bool ParseDialogDefinition(const uint8_t* block, size_t size, std::vector<Dialog>& dialogs,
                           std::string& error);

const Dialog* FindDialog(const std::vector<Dialog>& dialogs, int number);

// A column header text such as "l17Numer zam.\rp15Wartość zak.br.\rl12Data wyst.":
// per column an alignment letter (l left, p right), a width and the heading,
// columns separated by a carriage return.
struct Column {
    bool right = false;
    size_t width = 0;
    std::string heading;  // Mazovia bytes
};
bool ParseColumns(std::string_view text, std::vector<Column>& columns);

// The cells of a row text separated by carriage returns.
std::vector<std::string_view> SplitCells(std::string_view row);

}  // namespace hostapp
