// What the host must hold after each act of a world, written from the rules
// as docs/architecture.md ("One comparison, line by line", the roads of
// Ctrl+9 and command 350), docs/host-interface.md and CHANGELOG.md state
// them, and sharing no code with reconcile/. It states the rules; where a
// rule names the host operation whose failure it handles, the model counts
// that operation's calls in the order the rules make them, so that a world's
// fault (the nth call of one operation, from its act on) lands where the
// plug-in meets it.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "tests/support/plugin_texts.h"
#include "tests/worlds/world.h"

namespace worlds {
namespace {

constexpr int32_t kLineHookResult = 41;
constexpr int32_t kHeaderHookResult = 43;

// A text field as the plug-in reads it: no further than limit characters.
std::string Bounded(const char* field, size_t limit) {
    return std::string(field, strnlen(field, limit));
}

void SetText(char* field, size_t width, const std::string& text) {
    memset(field, 0, width);
    memcpy(field, text.data(), std::min(text.size(), width - 1));
}

// ------------------------------------------------------------------ the order list's row

// "%.2f" of the stored value times 0.0001, computed as IEEE doubles are, in
// the "C" locale this program runs the model in.
std::string TwoDecimalsOfScaled(uint64_t bits) {
#if defined(__i386__)
    uint16_t host_control, own = 0x027F;  // every exception masked, 53-bit, to nearest
    asm volatile("fnstcw %0\n\tfldcw %1" : "=m"(host_control) : "m"(own));
#endif
    double value;
    memcpy(&value, &bits, sizeof value);
    asm volatile("" : "+m"(value));
    double scaled = value * 0.0001;
    asm volatile("" : "+m"(scaled));
    // A NaN is written without its sign, as the host's runtime writes it.
    char text[400];
    snprintf(text, sizeof text, "%.2f", scaled != scaled ? __builtin_nan("") : scaled);
#if defined(__i386__)
    asm volatile("fnclex\n\tfldcw %0" : : "m"(host_control));
#endif
    return text;
}

// ------------------------------------------------------------------ the journal

std::string Cell(const std::string& mazovia) {
    std::string cell = "\"";
    if (!mazovia.empty() && strchr("=+-@", mazovia[0]) != nullptr)
        cell += '\'';
    for (unsigned char c : mazovia) {
        const unsigned char out = c < 0x20 || c == 0x7F ? ' ' : mazovia::ToWindows1250(c);
        cell += static_cast<char>(out);
        if (out == '"')
            cell += '"';
    }
    return cell + "\"";
}

std::string Units(int64_t thousandths) {
    const uint64_t magnitude = thousandths < 0 ? 0 - static_cast<uint64_t>(thousandths)
                                               : static_cast<uint64_t>(thousandths);
    char text[32];
    snprintf(text, sizeof text, "%s%llu,%03llu", thousandths < 0 ? "-" : "",
             static_cast<unsigned long long>(magnitude / 1000),
             static_cast<unsigned long long>(magnitude % 1000));
    return text;
}

std::string Article(const DocumentItem& line) {
    return std::to_string(line.article_key_first) + ";" + std::to_string(line.article_key_second) +
           ";" + Cell(Bounded(line.text, kLineTextLength)) + ";";
}

std::string Windows1250(const std::string& mazovia) {
    std::string text;
    for (unsigned char c : mazovia)
        text += static_cast<char>(mazovia::ToWindows1250(c));
    return text;
}

// ------------------------------------------------------------------ one comparison, line by line

bool Cleared(const DocumentItem& line) {
    const DocumentItem zero{};
    return memcmp(&line, &zero, sizeof line) == 0;
}

struct Deduction {
    std::vector<DocumentItem> order, wz;
    std::vector<std::string> rows;  // the journal's, from the article on
    int overflow = -1;              // the order line that would not hold its quantity
};

// The WZ's lines applied to the order's lines as loaded.
Deduction Deduct(const std::vector<DocumentItem>& loaded, const std::vector<DocumentItem>& wz) {
    Deduction d{loaded, wz, {}, -1};
    const size_t n = loaded.size();
    std::vector<int64_t> holds(n);
    std::vector<bool> open(n);
    std::vector<DocumentItem> as_cleared(n);
    for (size_t i = 0; i < n; ++i) {
        holds[i] = loaded[i].quantity;
        open[i] = loaded[i].article_key_first != 0;
    }
    std::map<std::pair<int16_t, int16_t>, int64_t> over;  // what "!n " markers said, per article
    const auto of = [](const DocumentItem& line, const DocumentItem& w) {
        return line.article_key_first != 0 && line.article_key_first == w.article_key_first &&
               line.article_key_second == w.article_key_second;
    };
    const auto mark = [&](DocumentItem& w, const std::string& prefix, int64_t excess) {
        d.rows.push_back(Article(w) + ";;" + Cell(prefix) + ";" + Units(excess));
        SetText(w.text, sizeof w.text,
                (prefix + Bounded(w.text, kLineTextLength)).substr(0, kLineTextLength));
    };
    const auto row = [&](size_t i, int64_t before, int64_t after, const char* what) {
        d.rows.push_back(Article(d.order[i]) + Units(before) + ";" + Units(after) + ";" +
                         Cell(what) + ";");
        if (after > INT32_MAX && d.overflow < 0)
            d.overflow = static_cast<int>(i);
        return d.overflow < 0;
    };
    for (DocumentItem& w : d.wz) {
        if (w.article_key_first == 0)
            continue;
        w.value_150 = 0.0;
        size_t first = 0;
        while (first < n && !of(loaded[first], w))
            ++first;
        if (first == n) {  // 1: the order never held the article
            mark(w, "? ", w.quantity);
            continue;
        }
        int64_t q = w.quantity;
        int64_t& marked_over = over[{w.article_key_first, w.article_key_second}];
        if (q < 0 && marked_over > 0) {  // 2: a return takes back what was marked over
            const int64_t back = std::min(marked_over, -q);
            marked_over -= back;
            q += back;
            if (q == 0)
                continue;
        }
        int handled = 0;
        for (size_t i = 0; i < n; ++i) {  // 3: the open lines, in array order
            if (!open[i] || !of(loaded[i], w))
                continue;
            ++handled;
            if (holds[i] > q) {
                if (!row(i, holds[i], holds[i] - q, "zmniejszona"_mz.c_str()))
                    return d;
                holds[i] -= q;
                d.order[i].quantity = static_cast<int32_t>(holds[i]);
                q = 0;
            } else {
                row(i, holds[i], 0, "usunięta"_mz.c_str());
                q -= holds[i];
                as_cleared[i] = d.order[i];
                d.order[i] = DocumentItem{};
                open[i] = false;
            }
            if (q == 0)
                break;
        }
        if (handled == 0 && q < 0) {  // 4: every line used up, the first comes back
            d.order[first] = as_cleared[first];
            d.order[first].quantity = 0;
            if (!row(first, 0, -q, "przywrócona"_mz.c_str()))
                return d;
            d.order[first].quantity = static_cast<int32_t>(-q);
            holds[first] = -q;
            open[first] = true;
            q = 0;
        }
        if (q > 0) {  // 5: over the order
            mark(w, "!" + std::to_string(q / 1000) + " ", q);
            marked_over += q;
        }
    }
    return d;
}

// ------------------------------------------------------------------ the roads

class Modeller {
  public:
    Modeller(const World& world, const std::function<std::string(int32_t)>& date_text)
        : world_(world), date_text_(date_text) {
        for (const WorldHeader& header : world.headers) {
            held_.headers.push_back(HeaderRecord(header));
            if (!header.cleared && !header.lines.empty())
                for (const WorldLine& line : header.lines)
                    held_.lines[header.id].push_back(LineRecord(line));
        }
    }

    Expected Run() {
        out_.journal_header = Windows1250(
            "Data;Czas;Numer WZ;Id WZ;Numer zamówienia;Id zamówienia;Artykuł;Artykuł 2;"
            "Tekst pozycji;Ilość przed;Ilość po;Zdarzenie;Ilość ponad zamówienie"_mz.c_str());
        // None stored, or what reads as 0 in 16 bits: the notice is shown.
        if (world_.pytaj < 0 || static_cast<int16_t>(world_.pytaj) == 0)
            out_.install_dialogs.push_back(Notice(
                plugin_texts::Filled(MessageId::kInstallNotice, {plugin_texts::kFeatureText})));
        for (act_ = 0; act_ < static_cast<int>(world_.acts.size()); ++act_) {
            now_ = ActOutcome{};
            const Act& act = world_.acts[act_];
            if (act.kind == ActKind::kCompare)
                Compare(act);
            else if (act.kind == ActKind::kCommand)
                Command(act);
            else
                Store(act);
            now_.holding = held_;
            out_.acts.push_back(now_);
        }
        return out_;
    }

  private:
    // Whether this call of the operation is the world's failing one.
    bool Fails(int32_t ordinal) {
        const WorldFault& fault = world_.fault;
        return fault.act >= 0 && act_ >= fault.act && ordinal == fault.ordinal &&
               ++fault_calls_ == fault.nth;
    }

    static Shown Notice(const std::string& text) {
        Shown shown;
        shown.ordinal = kOrdinalHostNotice;
        shown.dialog = kInstallNoticeDialog;
        shown.text = text;
        return shown;
    }

    void Show(MessageId id, const std::vector<std::string>& values = {}) {
        const PluginMessage& message = Message(id);
        Shown shown;
        shown.ordinal =
            message.shown_by == ShownBy::HostQuestion ? kOrdinalHostQuestion : kOrdinalHostMessage;
        shown.caption = message.caption;
        shown.flags = message.flags;
        shown.text = plugin_texts::Filled(id, values);
        if (message.shown_by == ShownBy::HostQuestion)
            shown.format = message.text;
        now_.dialogs.push_back(shown);
    }

    // The first stored header with the identifier; -1 when none.
    int Position(int32_t id) const {
        for (size_t i = 0; i < held_.headers.size(); ++i)
            if (held_.headers[i].document_id == id)
                return static_cast<int>(i);
        return -1;
    }

    // Lines stored: the host drops cleared lines, or keeps them under
    // save_lines.
    std::vector<DocumentItem> Kept(std::vector<DocumentItem> lines) const {
        if (world_.variation.save_lines != kVsSaveKeepCleared)
            std::erase_if(lines, Cleared);
        return lines;
    }
    void Save(int32_t id, const std::vector<DocumentItem>& lines) {
        held_.lines[id] = Kept(lines);
        if (held_.lines[id].empty())
            held_.lines.erase(id);
    }
    std::vector<DocumentItem> LinesOf(int32_t id) const {
        const auto found = held_.lines.find(id);
        return found == held_.lines.end() ? std::vector<DocumentItem>() : found->second;
    }

    template <typename T>
    static void Note(std::vector<T>& list, T value) {
        if (std::find(list.begin(), list.end(), value) == list.end())
            list.push_back(value);
    }

    // Ctrl+9 on a document: the line event, the order list, the comparison.
    void Compare(const Act& act) {
        const int32_t wz_id = world_.headers[act.document].id;
        const int position = wz_id != 0 ? Position(wz_id) : -1;
        if (position < 0)
            return;  // not opened: the act is not played
        now_.played = true;
        held_.buffer = held_.headers[position];
        std::vector<DocumentItem> lines = LinesOf(wz_id);
        const bool no_headers = Fails(kOrdinalHostOpenTable);
        if (Fails(kOrdinalHostOpenTable) || no_headers) {
            Show(MessageId::kComparisonDiskError);
            return;  // the event ends here, with 0
        }
        const DocumentHeader saved = held_.buffer;
        lines = Kept(lines);
        Save(wz_id, lines);
        now_.result = kLineHookResult;
        ++now_.line_events;
        if (held_.buffer.compared_marker == kComparedMarker) {
            Show(MessageId::kCompareAgain, {Bounded(held_.buffer.remarks, kRemarksLength)});
            const int16_t answer = Fails(kOrdinalHostQuestion) ? kAnswerEscape : act.question;
            if (answer != kAnswerYes)
                return;
        }
        std::string remarks;
        if (ChooseAndCompare(act, saved, held_.buffer.customer, lines, remarks)) {
            DocumentHeader wz = saved;
            wz.compared_marker = kComparedMarker;
            SetText(wz.remarks, sizeof wz.remarks, remarks);
            held_.buffer = wz;
            for (DocumentItem& line : lines)
                if (line.article_key_first != 0)
                    line.value_202 = 0.0;
            Save(wz_id, lines);
            Note(out_.host_valued, wz_id);
        } else {
            held_.buffer = saved;
        }
    }

    bool ChooseAndCompare(const Act& act, const DocumentHeader& wz, int16_t customer,
                          std::vector<DocumentItem>& wz_lines, std::string& remarks) {
        if (Fails(kOrdinalHostOpenTable)) {
            Show(MessageId::kOrderListDiskError);
            return false;
        }
        // The scan delivers every header; the list keeps the customer's orders.
        std::vector<int32_t> listed;
        Shown list;
        list.ordinal = kOrdinalHostListDialog;
        list.dialog = kOrderListDialog;
        size_t capacity = 0;
        if (!Fails(kOrdinalHostScanOpen)) {
            for (size_t p = 0;; ++p) {
                if (Fails(kOrdinalHostScanNext) || p >= held_.headers.size())
                    break;
                const DocumentHeader& h = held_.buffer = held_.headers[p];
                if (h.document_id == 0 || h.second_id == 0 || h.customer != customer)
                    continue;
                if (listed.size() == capacity) {
                    if (Fails(kOrdinalHostRealloc)) {
                        Show(MessageId::kOrderListAllocationError);
                        return false;
                    }
                    capacity += 30;
                }
                listed.push_back(h.document_id);
                // A gross value the host recomputed is the host's: any.
                const bool host_gross =
                    std::find(out_.host_grossed.begin(), out_.host_grossed.end(),
                              static_cast<int>(p)) != out_.host_grossed.end();
                list.row_texts.push_back(Bounded(h.number, kNumberLength) + "\r" +
                                         (host_gross ? "*" : TwoDecimalsOfScaled(GrossBits(h))) +
                                         "\r" + date_text_(DateOf(h)).substr(0, kDateTextLength));
            }
        }
        int16_t answer = kAnswerEscape;
        if (!Fails(kOrdinalHostListDialog)) {
            list.rows = static_cast<int32_t>(listed.size());
            answer = act.list;
            if (act.gone >= 0)  // another workstation, while the list is open
                held_.headers[static_cast<size_t>(act.gone)] = DocumentHeader{};
        } else {
            list.row_texts.clear();
        }
        now_.dialogs.push_back(list);
        if (answer != kAnswerYes || act.row < 0 || act.row >= static_cast<int>(listed.size()))
            return false;
        return Comparison(listed[static_cast<size_t>(act.row)], wz, wz_lines, remarks);
    }

    static uint64_t GrossBits(const DocumentHeader& h) {
        uint64_t bits;
        memcpy(&bits, reinterpret_cast<const char*>(&h) + offsetof(DocumentHeader, gross_value),
               sizeof bits);
        return bits;
    }
    static int32_t DateOf(const DocumentHeader& h) {
        int32_t date;
        memcpy(&date, h.issue_date, sizeof date);
        return date;
    }

    bool Comparison(int32_t order_id, const DocumentHeader& wz, std::vector<DocumentItem>& wz_lines,
                    std::string& remarks) {
        const bool no_headers = Fails(kOrdinalHostOpenTable);
        if (Fails(kOrdinalHostOpenTable) || no_headers || Fails(kOrdinalHostFindRange)) {
            Show(MessageId::kComparisonDiskError);
            return false;
        }
        size_t p = 0;
        for (; p < held_.headers.size(); ++p) {
            if (Fails(kOrdinalHostReadAt)) {
                Show(MessageId::kComparisonDiskError);
                return false;
            }
            held_.buffer = held_.headers[p];
            if (held_.buffer.document_id == order_id)
                break;
        }
        if (p == held_.headers.size()) {
            Show(MessageId::kOrderGone);
            return false;
        }
        remarks = Bounded(held_.buffer.remarks, kRemarksLength);
        const std::string number = Bounded(held_.buffer.number, kNumberLength);
        if (Fails(kOrdinalHostFindRange)) {
            Show(MessageId::kComparisonDiskError);
            return false;
        }
        std::vector<DocumentItem> loaded = LinesOf(order_id);
        // A failed load shows by its missing lines: an order without any
        // looks the same either way.
        if (Fails(kOrdinalHostLoadLines)) {
            if (!loaded.empty()) {
                Show(MessageId::kComparisonDiskError);
                return false;
            }
        }
        if (!loaded.empty() && Fails(kOrdinalHostRealloc)) {
            Show(MessageId::kComparisonAllocationError);
            return false;
        }
        Deduction d = Deduct(loaded, wz_lines);
        if (d.overflow >= 0) {
            Show(MessageId::kQuantityLimit,
                 {Bounded(loaded[static_cast<size_t>(d.overflow)].text, kLineTextLength)});
            return false;
        }
        wz_lines = d.wz;
        Save(order_id, d.order);
        Note(out_.host_valued, order_id);
        DocumentHeader header = held_.buffer;
        if (std::none_of(d.order.begin(), d.order.end(),
                         [](const DocumentItem& line) { return line.article_key_first != 0; })) {
            header = DocumentHeader{};
            d.rows.push_back(";;;;;" + Cell("zamówienie usunięte"_mz.c_str()) + ";");
        }
        const bool written = !Fails(kOrdinalHostWriteAt);
        if (written) {
            held_.headers[p] = header;
            Note(out_.host_grossed, static_cast<int>(p));
        } else {
            d.rows.push_back(";;;;;" + Cell("nagłówek zamówienia niezapisany"_mz.c_str()) + ";");
        }
        held_.buffer = header;
        if (written && world_.variation.nested_events)
            RemarksInto(header);  // the host raises 17152 for the header written
        if (world_.journal)
            for (const std::string& row : d.rows)
                out_.journal.push_back(Cell(Bounded(wz.number, kNumberLength)) + ";" +
                                       std::to_string(wz.document_id) + ";" + Cell(number) + ";" +
                                       std::to_string(order_id) + ";" + row);
        if (!written)
            Show(MessageId::kOrderHeaderNotWritten, {number});
        return true;
    }

    // Pending remarks written into the stored copy of the header in the
    // record buffer, event 17152 with the customer's key: the last stored
    // header of the customer with both its identifiers. False when a host
    // operation failed.
    bool RemarksInto(const DocumentHeader stored) {
        if (pending_.empty() || (stored.document_id == 0 && stored.second_id == 0))
            return true;  // a cleared record is no document
        std::vector<size_t> range;
        for (size_t i = 0; i < held_.headers.size(); ++i)
            if (held_.headers[i].customer == stored.customer)
                range.push_back(i);
        const bool no_range = Fails(kOrdinalHostFindRange);
        if (Fails(kOrdinalHostBeginUpdate) || no_range)
            return false;
        bool success = true;
        for (size_t k = range.size(); k-- > 0;) {
            if (Fails(kOrdinalHostReadAt)) {
                success = false;
                break;
            }
            DocumentHeader h = held_.buffer = held_.headers[range[k]];
            if (h.document_id == stored.document_id && h.second_id == stored.second_id) {
                SetText(h.remarks, sizeof h.remarks, pending_);
                success = !Fails(kOrdinalHostWriteAt);
                if (success)
                    held_.headers[range[k]] = h;
                break;
            }
        }
        held_.buffer = stored;
        return success;
    }

    void Command(const Act& act) {
        now_.played = true;
        if (Fails(kOrdinalHostOpenTable)) {
            Show(MessageId::kRemarksDiskError);
            return;
        }
        pending_.clear();
        if (static_cast<int16_t>(act.phase) == kMenuPhaseConfirmed &&
            static_cast<int16_t>(act.result) == kAnswerYes)
            for (const SelectionItem& item : act.selection)
                if (item.flag != 0 && item.value != 0 && pending_.empty())
                    pending_ = item.remarks.substr(0, kRemarksLength);
        pending_ = pending_.substr(0, strnlen(pending_.c_str(), pending_.size()));
    }

    void Store(const Act& act) {
        const int32_t id = world_.headers[act.document].id;
        const int position = id != 0 ? Position(id) : -1;
        if (position < 0)
            return;
        now_.played = true;
        held_.buffer = held_.headers[position];
        now_.result = kHeaderHookResult;
        ++now_.header_events;
        if (pending_.empty())
            return;
        if (Fails(kOrdinalHostOpenTable) || !RemarksInto(held_.buffer))
            Show(MessageId::kRemarksDiskError);
    }

    const World& world_;
    const std::function<std::string(int32_t)>& date_text_;
    Expected out_;
    Holding held_;
    std::string pending_;
    int act_ = 0;
    int fault_calls_ = 0;
    ActOutcome now_;
};

}  // namespace

Expected Model(const World& world, const std::function<std::string(int32_t)>& date_text) {
    return Modeller(world, date_text).Run();
}

}  // namespace worlds
