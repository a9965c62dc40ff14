#include "reconcile_scenario.h"

#include <windows.h>

#include <cstring>

#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "host/mazovia_text.h"
#include "reconcile/order_choice.h"
#include "reconcile/reconcile_state.h"

namespace reconcile_test {

void HostScenario::SetUp() {
    // The plug-in as loaded, its binding layer finding the host library the
    // way the attach step does.
    ResetFrameState();
    ResetReconcileState();
    AttachToHost(GetModuleHandleA(nullptr), kProcessAttach);
    ASSERT_NE(Frame.Attach.HostLibraryHandle, nullptr);
    VsReset();
}

void HostScenario::TearDown() {
    ReleaseOrderCandidates();
    EXPECT_EQ(Unreturned(), "");
}

std::string Text(const char* text, size_t max) {
    return std::string(text, strnlen(text, max));
}

std::vector<DocumentItem*> Pointers(std::vector<DocumentItem>& lines) {
    std::vector<DocumentItem*> pointers;
    for (DocumentItem& line : lines)
        pointers.push_back(&line);
    return pointers;
}

std::vector<const VsDialogCall*> DialogCalls() {
    std::vector<const VsDialogCall*> calls;
    for (int i = 0; i < VsDialogCallCount(); ++i)
        calls.push_back(VsDialogCallAt(i));
    return calls;
}

void ExpectOnlyError(MessageId id, const std::vector<std::string>& names) {
    const auto calls = DialogCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(Names(*calls[0], id, names)) << Message(id).identifier << ": " << calls[0]->text;
}

}  // namespace reconcile_test
