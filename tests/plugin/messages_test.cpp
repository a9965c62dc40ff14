// The plug-in's one list of messages, against the texts the plug-in has
// always shown, which users and support know word for word: each as the host
// (or the system's message box) must receive it, written out here apart from
// the list, so that the other tests can name messages by identifier. A
// message added since needs no copy here (the install guide is checked
// against the list instead).
#include <gtest/gtest.h>

#include <string>

#include "frame/plugin_messages.h"
#include "tests/support/plugin_texts.h"

using plugin_texts::Printable;

namespace {

struct Exact {
    MessageId id;
    ShownBy shown_by;
    std::string caption;
    int32_t flags;
    std::string text;
};

// Written in UTF-8 and encoded as the host's code page; \x01 and \x02 are the
// host's text switches.
const Exact kExact[] = {
    {MessageId::kMissingEntry, ShownBy::SystemBox, "POWAŻNY BŁĄD WTYCZKI"_mz.c_str(), 0x2012,
     "W module \x02%s\x01\nbrak wpisu \x02%s\x01\nWywołano z wtyczki \x02%s\x01.\n\n"
     "Błąd ten można zignorować lecz dalsza praca\n"
     "programu w tych warunkach może być niebezpieczna.\n\n"
     "Konieczna jest aktualizacja programu!"_mz.c_str()},
    {MessageId::kUnknownModule, ShownBy::PartOf, "", 0, "<nieznany>"},
    {MessageId::kVersionMismatch, ShownBy::HostQuestion, "STOP!!!", 0xC001,
     "Moduł \"%s\" i program występują w różnych wersjach!\n\nZostał zakualizowany tylko program "
     "albo tylko moduł,\na nie oba jednocześnie! Aby naprawić tę sytuację\nzainstaluj "
     "aktualizację programu wraz z modułem \"%s\".\n\nMODUŁ NIE ZOSTANIE ZAŁADOWANY!!!\n"_mz
         .c_str()},
    {MessageId::kRecordSizeReport, ShownBy::HostMessage, "STOP!!!", 0xC001,
     "Rozmiary rekordów niektórych tabel nie zgadzają się\nmiędzy programem a wtyczką \"%s\":\n\n"
     "\x01tl18l33\x01TABELA\tWE WTYCZCE\tW PROGRAMIE\n"_mz.c_str()},
    {MessageId::kRecordSizeRow, ShownBy::PartOf, "", 0, "\x01tp25p40\x01"},
    {MessageId::kNoTable, ShownBy::PartOf, "", 0, "brak"},
    {MessageId::kRecordSizeTail, ShownBy::PartOf, "", 0,
     "\nModuł wtyczki \x02%s\x01\nNIE zostanie załadowany!"_mz.c_str()},
    {MessageId::kNewerPluginNeeded, ShownBy::HostShowText, "", 0,
     "Program wymaga nowszej wtyczki!"},
    {MessageId::kInstallNotice, ShownBy::HostNotice, "", 1668,
     "Zainstalowano wtyczkę do programu:\n%s"_mz.c_str()},
    {MessageId::kCompareAgain, ShownBy::HostQuestion, "Uwaga", 0x20005,
     "Ten dokument WZ już był porównywany z zamówieniem, które zawierało w uwagach:\n\n%s\n\nCzy "
     "chcesz tą WZ porównać z zamówieniem?"_mz.c_str()},
    {MessageId::kOrderListDiskError, ShownBy::HostMessage, "Błąd"_mz.c_str(), 1,
     "Błąd operacji dyskowej!"_mz.c_str()},
    {MessageId::kOrderListAllocationError, ShownBy::HostMessage, "Błąd"_mz.c_str(), 1,
     "Błąd podczas alokowania pamięci w WybierzMM!\nOperacja niekompletna!"_mz.c_str()},
    {MessageId::kComparisonDiskError, ShownBy::HostMessage, "Błąd"_mz.c_str(), 1,
     "Błąd operacji dyskowej w PorownajDokumentyZeSoba!"_mz.c_str()},
    {MessageId::kRemarksDiskError, ShownBy::HostMessage, "Błąd"_mz.c_str(), 1,
     "Błąd operacji dyskowej w Numer zamówienia zamiast symbolu!"_mz.c_str()},
};

}  // namespace

TEST(Messages, TextsTheHostIsGivenAreExact) {
    for (const Exact& exact : kExact) {
        const PluginMessage& message = Message(exact.id);
        SCOPED_TRACE(message.identifier);
        EXPECT_EQ(message.shown_by, exact.shown_by);
        EXPECT_EQ(Printable(message.caption), Printable(exact.caption));
        EXPECT_EQ(message.flags, exact.flags);
        EXPECT_EQ(Printable(message.text), Printable(exact.text));
        EXPECT_EQ(message.length, exact.text.size());
    }
}
