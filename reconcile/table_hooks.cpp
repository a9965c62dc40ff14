#include "reconcile/table_hooks.h"

#include "frame/call_trace.h"
#include "frame/module_attach.h"
#include "frame/plugin_messages.h"
#include "host/host_api.h"
#include "host/mazovia_text.h"
#include "reconcile/line_table_hook.h"
#include "reconcile/order_number_remarks.h"
#include "reconcile/reconcile_state.h"

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

int32_t Chain(const HookedTable& hooked, uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
              uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
              uint32_t a11) {
    // The host's slot always held a hook when ours went in; a null one would
    // only crash the host, so the event ends here instead.
    if (hooked.previous == nullptr)
        return 0;
    return CallHost(hooked.previous, event, key & 0xFFFFu, a3, a4, a5, a6, a7, a8, a9,
                    a10 & 0xFFFFu, a11);
}

}  // namespace

int32_t InstallTableHooks(int32_t flag) {
    if (flag == 0) {
        Unhook(&Reconcile.HeaderHook);
        Unhook(&Reconcile.LineHook);
        return 0;
    }
    if (Hook(&Reconcile.HeaderHook, kHeaderTable, &Reconcile.InstallHeaderCheck, kHeaderTableLabel,
             AS_HANDED(HeaderTableHook)) != 0)
        return -1;
    if (Hook(&Reconcile.LineHook, kLineTable, &Reconcile.InstallLineCheck, kLineTableLabel,
             AS_HANDED(LineTableHook)) != 0)
        return -1;
    return 0;
}

int32_t ChainHeaderEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                         uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                         uint32_t a11) {
    return Chain(Reconcile.HeaderHook, event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}

int32_t ChainLineEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                       uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                       uint32_t a11) {
    return Chain(Reconcile.LineHook, event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11);
}

void AddOrderCommand() {
    Reconcile.CommandMark = HostAddMenuCommand(kMenuCommand, AS_HANDED(OrderNumberCommand));
}

void RemoveOrderCommand() {
    if (Reconcile.CommandMark != 0)
        HostRemoveMenuCommand(kMenuCommand);
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
