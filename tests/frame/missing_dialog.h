// The missing-entry dialog as the user must see it: the plug-in's message,
// its values filled in and converted to the system's code page.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"
#include "tests/support/plugin_texts.h"

// The Windows-1250 bytes of a Mazovia text, as the system's message box gets
// them: the host's text switches 0x01 and 0x02 shown as spaces.
inline std::string ForTheSystem(const std::string& mazovia_text) {
    std::string out;
    for (unsigned char c : mazovia_text)
        out += c == 0x01 || c == 0x02 ? ' ' : static_cast<char>(mazovia::ToWindows1250(c));
    return out;
}

// The message for a module text and an ordinal: every text switch of the
// pattern and of the feature text shown as a space.
inline std::string ExpectedMessage(const std::string& module, uint32_t ordinal) {
    return ForTheSystem(plugin_texts::Filled(
        MessageId::kMissingEntry, {module, std::to_string(ordinal), plugin_texts::kFeatureText}));
}

inline void ExpectMissingEntryBox(const ShownBox& box, const std::string& module,
                                  uint32_t ordinal) {
    SCOPED_TRACE(ordinal);
    EXPECT_EQ(box.text, ExpectedMessage(module, ordinal));
    EXPECT_EQ(box.caption, ForTheSystem(plugin_texts::CaptionOf(MessageId::kMissingEntry)));
    EXPECT_EQ(box.style, static_cast<uint32_t>(Message(MessageId::kMissingEntry).flags));
    EXPECT_FALSE(box.has_owner);
    EXPECT_EQ(box.text.find_first_of(std::string("\x01\x02", 2)), std::string::npos);
}

// The plug-in attached to the host library beside the program, as a module of
// the given path, with the host emptied and every entry lookup watched from
// here on: what the missing-entry dialog reports depends on both.
inline void AttachAsModule(const std::string& module_path) {
    InstallSystemHooks();
    ScriptModuleName(ProgramModule(), ModuleNameMode::kFixed, module_path);
    AttachToHost(ProgramModule(), kProcessAttach);
    ASSERT_NE(Frame.Attach.HostLibraryHandle, nullptr);
    WatchLookups(Frame.Attach.HostLibraryHandle);
    VsReset();
}
