// The missing-entry dialog as the user must see it, written out here
// independently of the plug-in's own texts and tables.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "frame/frame_state.h"
#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"

// Windows-1250 bytes of a UTF-8 text made of ASCII and the Polish letters
// the dialog uses.
inline std::string Windows1250(const std::string& utf8) {
    struct Letter {
        const char* utf8;
        char byte;
    };
    static const Letter letters[] = {{"ł", '\xB3'}, {"ą", '\xB9'}, {"ż", '\xBF'}, {"ć", '\xE6'},
                                     {"ó", '\xF3'}, {"Ż", '\xAF'}, {"Ł", '\xA3'}, {"Ą", '\xA5'}};
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        if (static_cast<unsigned char>(utf8[i]) < 0x80) {
            out += utf8[i++];
            continue;
        }
        bool known = false;
        for (const Letter& letter : letters) {
            const std::string sequence = letter.utf8;
            if (utf8.compare(i, sequence.size(), sequence) == 0) {
                out += letter.byte;
                i += sequence.size();
                known = true;
                break;
            }
        }
        if (!known) {
            ADD_FAILURE() << "letter missing from the test's table at " << i;
            return out;
        }
    }
    return out;
}

// The message for a module text and an ordinal: every text switch of the
// pattern and of the feature text shown as a space.
inline std::string ExpectedMessage(const std::string& module, uint32_t ordinal) {
    return Windows1250("W module  " + module + " \nbrak wpisu  " + std::to_string(ordinal) +
                       " \nWywołano z wtyczki   DOKUMENTY SPRZEDAŻY: \n"
                       "1. Porównaj WZ z zamówieniem - Ctrl+9 .\n\n"
                       "Błąd ten można zignorować lecz dalsza praca\n"
                       "programu w tych warunkach może być niebezpieczna.\n\n"
                       "Konieczna jest aktualizacja programu!");
}

inline void ExpectMissingEntryBox(const ShownBox& box, const std::string& module,
                                  uint32_t ordinal) {
    SCOPED_TRACE(ordinal);
    EXPECT_EQ(box.text, ExpectedMessage(module, ordinal));
    EXPECT_EQ(box.caption, Windows1250("POWAŻNY BŁĄD WTYCZKI"));
    EXPECT_EQ(box.style, 0x2012u);
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
    ASSERT_NE(Frame.HostLibraryHandle, nullptr);
    WatchLookups(Frame.HostLibraryHandle);
    VsReset();
}
