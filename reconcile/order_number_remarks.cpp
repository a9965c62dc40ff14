#include "reconcile/order_number_remarks.h"

#include <cstring>

#include "frame/plugin_messages.h"
#include "host/host_api.h"
#include "reconcile/bounded_text.h"
#include "reconcile/hook_chain.h"
#include "reconcile/host_resources.h"
#include "reconcile/nested_events.h"

namespace {

// The first qualifying selection entry with remarks gives PendingRemarks.
void TakeSelectedRemarks() {
    const int32_t* count = HostSelectionCount();
    for (int32_t i = 0; count != nullptr && i < *count; ++i) {
        SelectionEntry** entries = HostSelectionEntries();
        // The host may have rebuilt its list while handing it out; the count
        // read before then may no longer fit the array it gave.
        if (entries == nullptr || i >= *count)
            return;
        const SelectionEntry* entry = entries[i];
        if (entry == nullptr || entry->flag == 0 || entry->value == 0 || entry->record == nullptr)
            continue;
        if (Remarks.PendingRemarks[0] != 0)
            continue;
        HostCopyText(Remarks.PendingRemarks, entry->record->remarks, kRemarksLength);
        Remarks.PendingRemarks[kRemarksLength] = 0;
    }
}

}  // namespace

extern "C" int32_t HOST_STDCALL OrderNumberCommand(uint32_t result, uint32_t phase) {
    HostTable* headers = HostOpenTable(kHeaderTable);
    if (headers == nullptr) {
        ShowMessage(MessageId::kRemarksDiskError);
        return 0;
    }
    HostSetTableMode(headers, kTableMode);
    Remarks.PendingRemarks[0] = 0;
    if (static_cast<int16_t>(phase) == kMenuPhaseConfirmed &&
        static_cast<int16_t>(result) == kAnswerYes)
        TakeSelectedRemarks();
    return 0;
}

int32_t WritePendingRemarks(int16_t key) {
    HostTable* table = HostOpenTable(kHeaderTable);
    if (table == nullptr || table->record == nullptr) {
        ShowMessage(MessageId::kRemarksDiskError);
        return 0;
    }
    HostSetTableMode(table, kTableMode);
    auto* record = static_cast<DocumentHeader*>(table->record);
    DocumentHeader saved;
    memcpy(&saved, record, sizeof saved);
    // A cleared record (both identifiers 0, as the header of an order that was
    // delivered in full is written back) is no document: every other cleared
    // record would match it, and the remarks would land in one of them.
    if (saved.document_id == 0 && saved.second_id == 0)
        return 0;

    KeyBuffer key_buffer = {};
    int32_t count = 0;
    HostMakeKey(key, &table, &key_buffer, 0);
    int32_t success = 0;
    {
        // Ended, the range with it, with the success it comes to, also when
        // the range or the update could not be had.
        HeldUpdate held(HostFindRange(key, &key_buffer, table, &count));
        held.Begin(&key_buffer, count);
        if (held.range == nullptr || held.begin_result == 0) {
            held.success = 0;
        } else {
            for (int32_t index = count - 1; index >= 0 && held.success != 0; --index) {
                held.success = HostReadAt(held.update, index, table, nullptr, held.range);
                if (held.success == 0)
                    break;
                if (record->document_id == saved.document_id &&
                    record->second_id == saved.second_id) {
                    // The field holds 100 characters and its terminator;
                    // PendingRemarks never holds more, and the copy is bounded
                    // all the same.
                    BoundedCopy(record->remarks, Remarks.PendingRemarks, kRemarksLength);
                    held.success = HostWriteAt(held.update, index, table, nullptr, held.range);
                    break;
                }
            }
            memcpy(record, &saved, sizeof saved);
        }
        success = held.success;
    }
    // No range, no update, a failed read or write: the user stored a document
    // expecting the remarks in it and finds none, so the user is told once the
    // update has ended. Only a search that found no stored header ends with
    // success and says nothing.
    if (success == 0)
        ShowMessage(MessageId::kRemarksDiskError);
    return 0;
}

extern "C" int32_t HOST_STDCALL HeaderTableHook(uint32_t event, uint32_t key, uint32_t a3,
                                                uint32_t a4, uint32_t a5, uint32_t a6, uint32_t a7,
                                                uint32_t a8, uint32_t a9, uint32_t a10,
                                                uint32_t a11) {
    const int32_t result = ChainHeaderEvent(event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
    // The host may raise the event again for the header that the remarks are
    // being written into: that header is ours already, and writing it again
    // would raise the event once more, without end. Any other stored header,
    // the comparison's among them, gets the remarks.
    if (event == kEventHeaderStored && Remarks.PendingRemarks[0] != 0)
        HandleUnlessNested(Remarks.WritingRemarks,
                           [&] { WritePendingRemarks(static_cast<int16_t>(key)); });
    return result;
}
