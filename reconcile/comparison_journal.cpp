#include "reconcile/comparison_journal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/diagnostics.h"
#include "frame/platform.h"
#include "host/mazovia_text.h"
#include "host/quantity_text.h"
#include "reconcile/bounded_text.h"

namespace {

constexpr auto& kHeaderRow =
    "Data;Czas;Numer WZ;Id WZ;Numer zamówienia;Id zamówienia;Artykuł;Artykuł 2;Tekst pozycji;"
    "Ilość przed;Ilość po;Zdarzenie;Ilość ponad zamówienie\r\n"_mz;
constexpr auto& kReduced = "zmniejszona"_mz;
constexpr auto& kCleared = "usunięta"_mz;
constexpr auto& kHeaderCleared = "zamówienie usunięte"_mz;

// The most one row can take: the line's text with every character doubled,
// the two numbers and the rest.
constexpr size_t kRowRoom = 2 * kLineTextLength + 2 * 2 * kNumberLength + 256;

// First characters with which a spreadsheet takes a cell for a formula (tab
// and CR are made spaces before this test, but belong to the set).
bool StartsFormula(unsigned char byte) {
    return byte == '=' || byte == '+' || byte == '-' || byte == '@' || byte == '\t' || byte == '\r';
}

struct Record {
    char* bytes = nullptr;  // the header row, then the rows; from the C runtime's heap
    size_t length = 0;
    size_t capacity = 0;
    size_t rows = 0;
    bool lost = false;  // a row could not be kept: the record is not written
};

struct Journal {
    wchar_t file[kDiagnosticsPathSize] = {};
    char wz_number[kNumberLength + 1] = {};
    int32_t wz_id = 0;
    char order_number[kNumberLength + 1] = {};
    int32_t order_id = 0;
    PlatformTime time = {};
    Record record;
};
Journal journal;

bool Room(size_t more) {
    Record& r = journal.record;
    if (r.length + more <= r.capacity)
        return true;
    size_t capacity = r.capacity != 0 ? r.capacity : 4096;
    while (capacity < r.length + more)
        capacity *= 2;
    void* grown = std::realloc(r.bytes, capacity);
    if (grown == nullptr)
        return false;
    r.bytes = static_cast<char*>(grown);
    r.capacity = capacity;
    return true;
}

void Add(char byte) {
    journal.record.bytes[journal.record.length++] = byte;
}

void AddFormatted(const char* format, ...) __attribute__((format(printf, 1, 2)));
void AddFormatted(const char* format, ...) {
    Record& r = journal.record;
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(r.bytes + r.length, r.capacity - r.length, format, args);
    va_end(args);
    if (written > 0 && static_cast<size_t>(written) < r.capacity - r.length)
        r.length += static_cast<size_t>(written);
}

// A Mazovia text of at most length bytes between quotes, in Windows-1250, its
// quotes doubled and its control characters made spaces. A text that a
// spreadsheet would take for a formula (an article named "=..." runs as one
// on the machine of whoever opens the journal) gets an apostrophe in front,
// which makes the cell text.
void AddText(const char* text, size_t length) {
    Add('"');
    for (size_t i = 0; i < length && text[i] != 0; ++i) {
        auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x80)
            byte = mazovia::kToWindows1250[byte - 0x80];
        else if (byte < 0x20 || byte == 0x7F)
            byte = ' ';
        if (i == 0 && StartsFormula(byte))
            Add('\'');
        if (byte == '"')
            Add('"');
        Add(static_cast<char>(byte));
    }
    Add('"');
    Add(';');
}

// A quantity as the host shows it, and the separator.
void AddQuantity(int64_t quantity) {
    char text[kQuantityTextSize];
    WriteQuantity(text, quantity);
    AddFormatted("%s;", text);
}

// The row's first six columns: when, the WZ and the order.
bool BeginRow() {
    Record& r = journal.record;
    if (r.lost || !Room(kRowRoom)) {
        r.lost = true;
        return false;
    }
    const PlatformTime& t = journal.time;
    AddFormatted("%04u-%02u-%02u;%02u:%02u:%02u;", t.year, t.month, t.day, t.hour, t.minute,
                 t.second);
    AddText(journal.wz_number, kNumberLength);
    AddFormatted("%d;", static_cast<int>(journal.wz_id));
    AddText(journal.order_number, kNumberLength);
    AddFormatted("%d;", static_cast<int>(journal.order_id));
    return true;
}

void AddArticle(const DocumentItem* line) {
    AddFormatted("%d;%d;", line->article_key_first, line->article_key_second);
    AddText(line->text, BoundedLength(line->text, kLineTextLength));
}

// The event and, for a marked WZ line, by how much it is over the order; on
// other rows that last column is empty.
void EndRow(const char* event, const int64_t* excess = nullptr) {
    AddText(event, std::strlen(event));
    if (excess != nullptr) {
        AddQuantity(*excess);
        journal.record.length -= 1;  // the last column has no separator after it
    }
    Add('\r');
    Add('\n');
    ++journal.record.rows;
}

void StartRecord() {
    Record& r = journal.record;
    r.length = 0;
    r.rows = 0;
    r.lost = !Room(sizeof kHeaderRow.bytes);
    if (r.lost)
        return;
    for (size_t i = 0; i < kHeaderRow.size(); ++i) {
        const auto byte = static_cast<unsigned char>(kHeaderRow.bytes[i]);
        Add(static_cast<char>(byte >= 0x80 ? mazovia::kToWindows1250[byte - 0x80] : byte));
    }
}

void CopyNumber(char* out, const char* number) {
    BoundedCopy(out, number, kNumberLength);
}

}  // namespace

void SetJournalFile(const wchar_t* path) {
    journal.file[0] = 0;
    size_t length = 0;
    while (path != nullptr && length < kDiagnosticsPathSize && path[length] != 0)
        ++length;
    if (path != nullptr && length < kDiagnosticsPathSize)
        std::memcpy(journal.file, path, (length + 1) * sizeof(wchar_t));
}

bool JournalOn() {
    return journal.file[0] != 0;
}

void JournalWz(const DocumentHeader* wz) {
    if (!JournalOn())
        return;
    CopyNumber(journal.wz_number, wz->number);
    journal.wz_id = wz->document_id;
}

void JournalOrder(const DocumentHeader* order) {
    if (!JournalOn())
        return;
    CopyNumber(journal.order_number, order->number);
    journal.order_id = order->document_id;
    journal.time = PlatformLocalTime();
    StartRecord();
}

void JournalOrderLine(const DocumentItem* line, int32_t quantity_after, bool cleared) {
    if (!JournalOn() || !BeginRow())
        return;
    AddArticle(line);
    AddQuantity(line->quantity);
    AddQuantity(cleared ? 0 : quantity_after);
    EndRow(cleared ? kCleared.c_str() : kReduced.c_str());
}

void JournalWzMark(const DocumentItem* wz_line, const char* prefix, int64_t excess) {
    if (!JournalOn() || !BeginRow())
        return;
    AddArticle(wz_line);
    AddFormatted(";;");
    EndRow(prefix, &excess);
}

void JournalOrderCleared() {
    if (!JournalOn() || !BeginRow())
        return;
    AddFormatted(";;;;;");
    EndRow(kHeaderCleared.c_str());
}

void JournalFinish() {
    Record& r = journal.record;
    if (JournalOn() && !r.lost && r.rows > 0) {
        bool empty = false;
        void* file = PlatformOpenAppend(journal.file, &empty);
        const size_t skip = empty ? 0 : kHeaderRow.size();
        PlatformAppend(file, r.bytes + skip, static_cast<uint32_t>(r.length - skip));
        PlatformClose(file);
    }
    r.length = 0;
    r.rows = 0;
    r.lost = true;  // until the next order begins a record
}
