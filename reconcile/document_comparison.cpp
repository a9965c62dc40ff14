#include "reconcile/document_comparison.h"

#include <cstdio>
#include <cstring>

#include "host/host_api.h"
#include "reconcile/bounded_text.h"
#include "reconcile/comparison_journal.h"
#include "reconcile/reconcile_messages.h"

namespace {

// The host stores quantities as 32-bit two's complement and wraps; so do we,
// without relying on signed overflow.
int32_t WrappingSubtract(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

// A cleared record is all zero bytes, as many as the table says its records
// have; its article key and identifier become 0, so it is skipped from then on.
void ClearRecord(void* record, const HostTable* table) {
    if (table->record_size > 0)
        std::memset(record, 0, static_cast<size_t>(table->record_size));
}

bool SameArticle(const DocumentItem* order_line, const DocumentItem* wz_line) {
    return order_line->article_key_first != 0 &&
           order_line->article_key_first == wz_line->article_key_first &&
           order_line->article_key_second == wz_line->article_key_second;
}

// Puts prefix in front of the WZ line's text. The line's text is read no
// further than its 120 characters even when the host left it unterminated;
// the host cuts the result to 120 characters as it stores it.
void MarkLine(DocumentItem* wz_line, const char* prefix, int64_t excess) {
    JournalWzMark(wz_line, prefix, excess);
    char marked[256];
    const int text_length = static_cast<int>(BoundedLength(wz_line->text, kLineTextLength));
    std::snprintf(marked, sizeof marked, "%s%.*s", prefix, text_length, wz_line->text);
    HostCopyText(wz_line->text, marked, kLineTextLength);
}

// Deducts one WZ line from the order's lines: the first matching order line
// takes what it holds, the rest carries over to the next matching line.
void ApplyWzLine(DocumentItem* wz_line, DocumentItem** order_lines, int32_t order_count,
                 DocumentHeader* order_header, const HostTable* line_table) {
    int32_t open = wz_line->quantity;
    int32_t matches = 0;
    for (int32_t i = 0; i < order_count; ++i) {
        DocumentItem* order_line = order_lines[i];
        if (!SameArticle(order_line, wz_line))
            continue;
        ++matches;
        if (order_line->quantity > open) {
            const int32_t left = WrappingSubtract(order_line->quantity, open);
            JournalOrderLine(order_line, left, false);
            order_line->quantity = left;
            open = 0;
            HostUpdateLine(0, order_line, order_header, 1);
        } else {
            open = WrappingSubtract(open, order_line->quantity);
            JournalOrderLine(order_line, 0, true);
            ClearRecord(order_line, line_table);
        }
        HostUpdateLines(order_lines, order_count, order_header, 0, 0);
        // Tested after the line was handled: a WZ line of quantity 0 still
        // settles its first matching order line.
        if (open == 0)
            break;
    }

    wz_line->value_150 = 0.0;
    if (matches == 0) {
        MarkLine(wz_line, "? ", wz_line->quantity);
    } else if (open != 0) {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "!%d ", static_cast<int>(open / 1000));
        MarkLine(wz_line, prefix, open);
    }
}

bool HasArticleLine(DocumentItem** lines, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (lines[i]->article_key_first != 0)
            return true;
    return false;
}

}  // namespace

int32_t PorownajDokumentyZeSoba(int32_t order_id, DocumentItem** wz_lines, int32_t wz_count,
                                char* remarks) {
    HostTable* header_table = HostOpenTable(kHeaderTable);
    HostTable* line_table = HostOpenTable(kLineTable);
    if (header_table == nullptr || line_table == nullptr) {
        ShowError(kComparisonDiskError);
        return 0;
    }
    HostSetTableMode(header_table, kTableMode);
    HostSetTableMode(line_table, kTableMode);

    KeyBuffer key{};
    int32_t header_count = 0;
    HostMakeKey(kKeyOrderHeaders, &header_table, &key, 0);
    RangeHandle header_range = HostFindRange(kKeyOrderHeaders, &key, header_table, &header_count);
    if (header_range == nullptr) {
        ShowError(kComparisonDiskError);
        return 0;
    }

    // The headers are read into the table's own record buffer; the caller puts
    // back whatever it held before.
    auto* header = static_cast<DocumentHeader*>(header_table->record);
    int32_t position = 0;
    for (; position < header_count; ++position) {
        // A failed read leaves the buffer holding the header read before, or
        // the last one the order list scanned, which may well be the order:
        // taken for the header at this position, the order's header would be
        // written over another document, or the order would seem missing and
        // the WZ be marked as compared with nothing deducted.
        if (HostReadAt(nullptr, position, header_table, header, header_range) == 0) {
            ShowError(kComparisonDiskError);
            HostFreeRange(&header_range);
            return 0;
        }
        if (header->document_id == order_id)
            break;
    }
    if (position >= header_count) {
        HostFreeRange(&header_range);
        return 1;
    }

    BoundedCopy(remarks, header->remarks, kRemarksLength);
    JournalOrder(header);

    int32_t line_count = 0;
    HostMakeKey(kKeyDocumentLines, &line_table, &key, order_id);
    RangeHandle line_range = HostFindRange(kKeyDocumentLines, &key, line_table, &line_count);
    if (line_range == nullptr) {
        ShowError(kComparisonDiskError);
        HostFreeRange(&header_range);
        return 0;
    }
    DocumentItem** order_lines = nullptr;
    void* lines_aux = nullptr;
    const int32_t lines_in_range = line_count;
    HostLoadLines(&order_lines, &lines_aux, &line_count, line_count, line_table, line_range);
    // Without its lines the order would look delivered in full: storing the
    // empty array would drop its lines and its header would be cleared. The
    // host promises nothing about this call's result, so the missing array is
    // what tells a failed load from an order that has no lines.
    if (order_lines == nullptr && (line_count > 0 || lines_in_range > 0)) {
        ShowError(kComparisonDiskError);
        // A load that failed half-way may still have handed out its second
        // value, or hold the range for loading: only HostFreeLines gives that
        // back, and nothing tells the plug-in whether there is any.
        HostFreeLines(&order_lines, &lines_aux, &line_count, line_count, line_table, line_range);
        HostFreeRange(&line_range);
        HostFreeRange(&header_range);
        return 0;
    }

    for (int32_t i = 0; i < wz_count; ++i) {
        DocumentItem* wz_line = wz_lines[i];
        if (wz_line->article_key_first == 0)
            continue;
        ApplyWzLine(wz_line, order_lines, line_count, header, line_table);
    }

    HostUpdateTotals(header, header, order_lines, line_count);
    // The save has no result to go by: a host may return the lines it kept,
    // which is 0 exactly when the order was delivered in full. It may drop the
    // cleared lines and lower the count, or keep them; either way the lines
    // up to the count it left say whether anything is still to deliver.
    HostSaveLines(kKeyDocumentLines, line_table, order_lines, &line_count, line_range,
                  kSaveLinesFlags, 0, 1, 0, 0, 0, 0);
    // An order with nothing left to deliver is cleared, so that its identifier
    // becomes 0 and the order list never offers it again.
    if (!HasArticleLine(order_lines, line_count)) {
        JournalOrderCleared();
        ClearRecord(header, header_table);
    }

    HostFreeLines(&order_lines, &lines_aux, &line_count, line_count, line_table, line_range);
    HostFreeRange(&line_range);
    HostWriteAt(nullptr, position, header_table, header, header_range);
    HostFreeRange(&header_range);
    JournalFinish();
    return 1;
}
