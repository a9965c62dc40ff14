#include "reconcile/line_table_hook.h"

#include <cstring>

#include "frame/plugin_messages.h"
#include "host/host_api.h"
#include "reconcile/bounded_text.h"
#include "reconcile/comparison_journal.h"
#include "reconcile/hook_chain.h"
#include "reconcile/nested_events.h"
#include "reconcile/order_choice.h"

namespace {

struct LineEvent {
    int32_t* count;
    DocumentItem** lines;
    HostTable* table;
    RangeHandle range;
};

void SaveLines(const LineEvent& e) {
    HostSaveLines(kKeyEditedLines, e.table, e.lines, e.count, e.range, kSaveLinesFlags, 0, 1, 0, 0,
                  0, 0);
}

// The count is read through the host's pointer at every use: saving the lines
// may compact the array and lower it.
int32_t LineCount(const LineEvent& e) {
    return e.lines == nullptr ? 0 : *e.count;
}

// True when the user wants a WZ that was compared before compared again.
bool ConfirmCompareAgain(const DocumentHeader* header) {
    // The remarks go to the host's formatter; a field filled to its last byte
    // must not take it beyond the field.
    char remarks[kRemarksLength + 1];
    BoundedCopy(remarks, header->remarks, kRemarksLength);
    const DialogOfRun open(WzTrigger.ComparingWz);
    const int16_t answer = AskQuestion(MessageId::kCompareAgain, remarks);
    return answer == kAnswerYes;
}

// Marks the WZ as compared, gives it the order's remarks, and stores its
// refreshed article lines.
void MarkCompared(DocumentHeader* wz, void* record, const char* order_remarks, const LineEvent& e) {
    wz->compared_marker = kComparedMarker;
    HostCopyText(wz->remarks, order_remarks, kRemarksLength);
    wz->remarks[kRemarksLength] = 0;
    memcpy(record, wz, sizeof *wz);
    for (int32_t i = 0; i < LineCount(e); ++i) {
        DocumentItem* line = e.lines[i];
        if (line == nullptr || line->article_key_first == 0)
            continue;
        line->value_202 = 0.0;
        HostUpdateLine(0, line, static_cast<DocumentHeader*>(record), 1);
    }
    SaveLines(e);
}

// Only an event that comes with its lines can be compared: with a count of
// lines but no array to hold them, the WZ would be marked as compared with
// nothing deducted. The user is told, and the event only passed on.
bool HasLines(const LineEvent& e) {
    if (e.count != nullptr && e.lines == nullptr && *e.count > 0)
        ShowMessage(MessageId::kComparisonDiskError);
    return e.count != nullptr && (e.lines != nullptr || *e.count <= 0);
}

// Saves the lines, asks before a repeated comparison, lets the user choose and
// apply an order, and marks the WZ. False when the tables cannot be opened:
// the failure has been shown, and the event ends here.
bool CompareWz(const LineEvent& e) {
    HostTable* headers = HostOpenTable(kHeaderTable);
    HostTable* lines = HostOpenTable(kLineTable);
    if (headers == nullptr || lines == nullptr || headers->record == nullptr) {
        ShowMessage(MessageId::kComparisonDiskError);
        return false;
    }
    HostSetTableMode(headers, kTableMode);
    HostSetTableMode(lines, kTableMode);

    void* record = headers->record;
    DocumentHeader wz;
    memcpy(&wz, record, sizeof wz);
    JournalWz(&wz);
    char order_remarks[kRemarksLength + 1] = {};
    SaveLines(e);

    // The marker and the customer are read from the record buffer as the
    // host left it after storing the lines.
    const auto* current = static_cast<const DocumentHeader*>(record);
    if (current->compared_marker == kComparedMarker && !ConfirmCompareAgain(current))
        return true;
    // From the choice on, the candidate list is given back when the WZ is done.
    const HeldOrderCandidates candidates;
    int32_t chosen;
    {
        // The order list is a dialog of the run, from its listing to its end.
        const DialogOfRun open(WzTrigger.ComparingWz);
        chosen = ChooseOrder(current->customer, e.lines, LineCount(e), order_remarks);
    }
    // Whatever the comparison left there, the remarks stay one field long.
    order_remarks[kRemarksLength] = 0;
    if (chosen != 0)
        MarkCompared(&wz, record, order_remarks, e);
    else
        memcpy(record, &wz, sizeof wz);
    return true;
}

}  // namespace

extern "C" int32_t HOST_STDCALL LineTableHook(uint32_t event, uint32_t key, uint32_t a3,
                                              uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7,
                                              uint32_t a8, uint32_t a9, uint32_t a10,
                                              uint32_t a11) {
    const LineEvent e = {reinterpret_cast<int32_t*>(a3), reinterpret_cast<DocumentItem**>(a4),
                         reinterpret_cast<HostTable*>(a6), reinterpret_cast<RangeHandle>(a8)};
    if (event == kEventLines && static_cast<int16_t>(key) == kKeyEditedLines && HasLines(e)) {
        bool opened = true;
        // The host may raise the line event again from inside the operations
        // the hook calls (storing the WZ's lines, say). Such an event is only
        // passed on: worked on again, it would store the lines and raise the
        // event once more, without end, and start a second order choice over
        // the one candidate list.
        HandleUnlessNested(WzTrigger.ComparingWz, [&] { opened = CompareWz(e); });
        if (!opened)
            return 0;
    }
    return ChainLineEvent(event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}
