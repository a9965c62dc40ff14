#include "reconcile/table_hooks.h"

#include "frame/call_trace.h"
#include "frame/module_attach.h"
#include "frame/plugin_messages.h"
#include "host/host_api.h"
#include "host/mazovia_text.h"
#include "reconcile/comparison_journal.h"
#include "reconcile/hook_chain.h"
#include "reconcile/line_table_hook.h"
#include "reconcile/order_number_remarks.h"

namespace {

constexpr auto& kSettingsSection = "Quendrix"_mz;
constexpr auto& kAskSetting = "Pytaj"_mz;
constexpr auto& kDecimal = "%d"_mz;

// Puts our hook into one table's slot. -1 when the table is missing or its
// records are not the size we read and write.
int32_t Hook(HookedTable* hooked, int32_t table_number, RecordSizeCheck* check, const char* label,
             TableEventHook ours) {
    if (hooked->table != nullptr)
        return 0;
    HostTable* table = HostOpenTable(table_number);
    if (table == nullptr || table->record_size != check->expected) {
        FillRecordSizeCheck(check, table != nullptr ? table->record_size : 0, label);
        return AddMismatch(check);
    }
    // If the slot already holds our own hook, keeping it as the previous one
    // would make every event call us again without end; the hook we replaced
    // first is kept instead.
    if (table->hook != ours)
        hooked->previous = table->hook;
    table->hook = ours;
    hooked->table = table;
    return 0;
}

void Unhook(HookedTable* hooked) {
    if (hooked->table == nullptr)
        return;
    hooked->table->hook = hooked->previous;
    hooked->table = nullptr;
}

}  // namespace

int32_t InstallTableHooks(int32_t flag) {
    if (flag == 0) {
        Unhook(&HookChain.HeaderHook);
        Unhook(&HookChain.LineHook);
        return 0;
    }
    if (Hook(&HookChain.HeaderHook, kHeaderTable, &TableHooks.InstallHeaderCheck, kHeaderTableLabel,
             AS_HANDED(HeaderTableHook)) != 0)
        return -1;
    if (Hook(&HookChain.LineHook, kLineTable, &TableHooks.InstallLineCheck, kLineTableLabel,
             AS_HANDED(LineTableHook)) != 0)
        return -1;
    return 0;
}

void AddOrderCommand() {
    TableHooks.CommandMark = HostAddMenuCommand(kMenuCommand, AS_HANDED(OrderNumberCommand));
}

void RemoveOrderCommand() {
    if (TableHooks.CommandMark != 0)
        HostRemoveMenuCommand(kMenuCommand);
}

void StopReconciliation() {
    InstallTableHooks(0);
    RemoveOrderCommand();
    ReleaseJournal();
}

int32_t ShowInstallNotice() {
    // The host reads "%d" into a whole int; a 16-bit variable would have its
    // neighbour overwritten, so the read lands in 32 bits and is narrowed.
    int32_t stored = 0;
    if (ProfileValue(kProfileRead, kSettingsSection, kAskSetting, kDecimal, &stored) != 0)
        stored = 0;
    int16_t ask = static_cast<int16_t>(stored);
    if (ask != 0)
        return 0;

    constexpr const PluginMessage& message = Message(MessageId::kInstallNotice);
    char notice[message.length + FeatureText.size() + 1];
    ComposeMessage(notice, sizeof notice, MessageId::kInstallNotice,
                   static_cast<const char*>(FeatureText));
    HostNotice(message.flags, &ask, 0, notice);
    ProfileValue(kProfileWrite, kSettingsSection, kAskSetting, kDecimal, static_cast<int32_t>(ask));
    return 0;
}
