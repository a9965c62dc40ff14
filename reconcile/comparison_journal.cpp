#include "reconcile/comparison_journal.h"

#include <cstring>

#include "frame/diagnostics.h"
#include "host/mazovia_text.h"
#include "host/quantity_text.h"
#include "reconcile/bounded_text.h"

namespace {

constexpr auto& kHeaderRow =
    "Data;Czas;Numer WZ;Id WZ;Numer zamówienia;Id zamówienia;Artykuł;Artykuł 2;Tekst pozycji;"
    "Ilość przed;Ilość po;Zdarzenie;Ilość ponad zamówienie\r\n"_mz;
constexpr auto& kReduced = "zmniejszona"_mz;
constexpr auto& kCleared = "usunięta"_mz;
constexpr auto& kRestored = "przywrócona"_mz;
constexpr auto& kHeaderCleared = "zamówienie usunięte"_mz;
constexpr auto& kHeaderNotWritten = "nagłówek zamówienia niezapisany"_mz;

// The most one row can take: the line's text with every character doubled,
// the two numbers and the rest.
constexpr size_t kRowRoom = 2 * kLineTextLength + 2 * 2 * kNumberLength + 256;

// A Mazovia text of at most length bytes as a cell: between quotes, in
// Windows-1250. A text that a spreadsheet would take for a formula (an
// article named "=..." runs as one on the machine of whoever opens the
// journal) gets an apostrophe in front, which makes the cell text; a tab or a
// carriage return, which would do the same, is already a space in the cell.
void AddText(const char* text, size_t length) {
    TextBuilder& t = Journal.text;
    t.AddByte('"');
    const char first = length > 0 ? text[0] : 0;
    if (first == '=' || first == '+' || first == '-' || first == '@')
        t.AddByte('\'');
    AddMazovia(t, text, length, MazoviaStyle::kJournalCell);
    t.Add("\";");
}

// A quantity as the host shows it, and the separator unless its column is
// the last.
void AddQuantity(int64_t quantity, bool last = false) {
    char text[kQuantityTextSize];
    WriteQuantity(text, quantity);
    Journal.text.AddText(text, sizeof text);
    if (!last)
        Journal.text.AddByte(';');
}

// The row's first six columns: when, the WZ and the order.
bool BeginRow() {
    JournalRecord& r = Journal;
    if (r.lost || !r.text.Room(kRowRoom)) {
        r.lost = true;
        return false;
    }
    const PlatformTime& time = r.time;
    r.text.Add("%04u-%02u-%02u;%02u:%02u:%02u;", time.year, time.month, time.day, time.hour,
               time.minute, time.second);
    AddText(r.wz_number, kNumberLength);
    r.text.Add("%d;", static_cast<int>(r.wz_id));
    AddText(r.order_number, kNumberLength);
    r.text.Add("%d;", static_cast<int>(r.order_id));
    return true;
}

void AddArticle(const DocumentItem* line) {
    Journal.text.Add("%d;%d;", line->article_key_first, line->article_key_second);
    AddText(line->text, BoundedLength(line->text, kLineTextLength));
}

// The event and, for a marked WZ line, by how much it is over the order; on
// other rows that last column is empty.
void EndRow(const char* event, const int64_t* excess = nullptr) {
    JournalRecord& r = Journal;
    AddText(event, std::strlen(event));
    if (excess != nullptr)
        AddQuantity(*excess, true);
    r.text.Add("\r\n");
    r.lost = r.lost || r.text.cut;
    ++r.rows;
}

void StartRecord() {
    JournalRecord& r = Journal;
    r.text.Clear();
    r.rows = 0;
    r.lost = !r.text.Room(sizeof kHeaderRow.bytes);
    if (r.lost)
        return;
    for (size_t i = 0; i < kHeaderRow.size(); ++i)
        r.text.AddByte(static_cast<char>(mazovia::ToWindows1250(kHeaderRow.bytes[i])));
}

void CopyNumber(char* out, const char* number) {
    BoundedCopy(out, number, kNumberLength);
}

}  // namespace

void JournalWz(const DocumentHeader* wz) {
    if (!JournalOn())
        return;
    CopyNumber(Journal.wz_number, wz->number);
    Journal.wz_id = wz->document_id;
}

void JournalOrder(const DocumentHeader* order) {
    if (!JournalOn())
        return;
    CopyNumber(Journal.order_number, order->number);
    Journal.order_id = order->document_id;
    Journal.time = PlatformLocalTime();
    StartRecord();
}

void JournalOrderLine(const DocumentItem* line, int32_t quantity_after, JournalLine what) {
    if (!JournalOn() || !BeginRow())
        return;
    AddArticle(line);
    AddQuantity(line->quantity);
    AddQuantity(what == JournalLine::kCleared ? 0 : quantity_after);
    EndRow(what == JournalLine::kCleared    ? kCleared.c_str()
           : what == JournalLine::kRestored ? kRestored.c_str()
                                            : kReduced.c_str());
}

void JournalWzMark(const DocumentItem* wz_line, const char* prefix, int64_t excess) {
    if (!JournalOn() || !BeginRow())
        return;
    AddArticle(wz_line);
    Journal.text.Add(";;");
    EndRow(prefix, &excess);
}

namespace {

// A row about the order's header: no article, text or quantities.
void HeaderRow(const char* event) {
    if (!JournalOn() || !BeginRow())
        return;
    Journal.text.Add(";;;;;");
    EndRow(event);
}

}  // namespace

void JournalOrderCleared() {
    HeaderRow(kHeaderCleared);
}

void JournalHeaderNotWritten() {
    HeaderRow(kHeaderNotWritten);
}

void JournalFinish() {
    JournalRecord& r = Journal;
    if (JournalOn() && !r.lost && r.rows > 0)
        AppendJournalRecord(r.text.text, r.text.length, kHeaderRow.size());
    r.text.Clear();
    r.rows = 0;
    r.lost = true;  // until the next order begins a record
}

void ReleaseJournal() {
    Journal.text.Release();
    Journal.rows = 0;
    Journal.lost = true;
}
