// One WZ comparison through the plug-in's portable code built natively under
// the sanitizers: the sample shop read from its document file into the
// stand-in, the plug-in attached, started (with its journal switched on by
// its settings) and installed, and Ctrl+9 on WZ/2/2026 confirmed for
// ZK/2/2026, the story make demo tells. Checks what the road must have done,
// and that everything the host handed out came back.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "documentfile/document_file.h"
#include "documentfile/standin_store.h"
#include "frame/module_attach.h"
#include "frame/plugin_entry.h"
#include "fuzz/native/native_door.h"
#include "standin/veldan_control.h"
#include "tests/support/host_store.h"

namespace {

int failures = 0;

void Check(bool good, const char* what) {
    if (!good) {
        fprintf(stderr, "native road: %s\n", what);
        ++failures;
    }
}

int32_t Id(const char* number) {
    for (int i = 0; i < VsHeaderCount(); ++i)
        if (strcmp(test_host::StoredHeader(i).number, number) == 0)
            return test_host::StoredHeader(i).document_id;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: native_road_test data/sample-shop.json\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), {}};
    document_file::DocumentFile shop;
    std::vector<document_file::Problem> problems;
    if (!document_file::ReadDocuments(bytes, shop, problems)) {
        fprintf(stderr, "%s: %s\n", argv[1], document_file::Describe(problems).c_str());
        return 1;
    }
    VsReset();
    document_file::PutDocuments(shop.documents);
    System().profile[L"Journal"][L"Enabled"] = L"1";

    QuendrixDllEntry(NativePluginModule(), kProcessAttach, nullptr);
    char feature_text[64] = {};
    int context = 0;
    Check(PluginStart(&context, feature_text) == 0, "the stand-in is a compatible host");
    Check(PluginInstall(0) == 0, "installed");

    const int32_t wz = Id("WZ/2/2026"), order = Id("ZK/2/2026");
    Check(VsOpenDocument(wz) == 1, "WZ/2/2026 opened");
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, 1);  // the customer's second order
    VsRaiseLineEvent(kKeyEditedLines);

    const std::vector<DocumentItem> order_lines = test_host::StoredLines(order);
    Check(order_lines.size() == 1 && order_lines[0].quantity == 2500,
          "ZK/2/2026 keeps only the eggs not delivered, 2.5 units");
    const std::string wz_texts = test_host::StoredLineTexts(wz);
    Check(wz_texts.find("|!2 Olej") != std::string::npos, "the oil over the order is marked !2");
    Check(wz_texts.find("|? M") != std::string::npos, "the flour not ordered is marked ?");
    Check(strncmp(test_host::RecordBuffer()->remarks, "Zam. nr 15/03/2026", 18) == 0,
          "the WZ takes over the order's remarks");
    const std::string& journal = System().files[L"C:\\Quendrix\\Quendrix-journal.csv"];
    Check(std::count(journal.begin(), journal.end(), '\n') == 6,
          "the journal has its header and five rows");
    Check(test_host::Unreturned().empty(), "everything the host handed out is given back");

    Check(PluginStart(nullptr, nullptr) == 0, "stopped");
    printf("native road: %s\n", failures ? "FAILED" : "ok");
    return failures ? 1 : 0;
}
