// The documents put into the stand-in host's store (VELDAN.dll) and taken
// back from it, through its control interface.
#pragma once

#include "documentfile/document_file.h"

namespace document_file {

// Replaces the store's headers and lines with these; nothing else changes.
void PutDocuments(const DocumentSet& documents);
// Every header and every line the store holds, lines without a header too.
DocumentSet TakeDocuments();

}  // namespace document_file
