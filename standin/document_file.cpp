// Document file: placeholder until the loader lands.
#include "standin/standin_state.h"

using namespace veldan;

VS_API int VsLoadDocuments(const char*) {
    S().last_error = "not implemented yet";
    return 1;
}
VS_API int VsSaveDocuments(const char*) {
    S().last_error = "not implemented yet";
    return 1;
}
