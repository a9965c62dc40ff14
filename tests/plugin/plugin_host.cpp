#include "plugin_host.h"

#include <cstring>

#include "tests/support/child_process.h"

void PluginHost::SetUp() {
    VsReset();
    char directory[MAX_PATH];
    ASSERT_NE(GetTempPathA(sizeof directory, directory), 0u);
    char path[MAX_PATH];
    ASSERT_NE(GetTempFileNameA(directory, "qdx", 0, path), 0u);
    DeleteFileA(path);  // no settings file until the plug-in writes one
    profile_path_ = path;
    VsSetProfilePath(profile_path_.c_str());

    const test_host::Plugin plugin = test_host::LoadPlugin();
    module_ = plugin.module;
    start_ = plugin.start;
    install_ = plugin.install;
    idle_ = plugin.idle;
    ASSERT_NE(module_, nullptr);
    ASSERT_NE(start_, nullptr);
    ASSERT_NE(install_, nullptr);
    ASSERT_NE(idle_, nullptr);
}

void PluginHost::TearDown() {
    if (!profile_path_.empty())
        DeleteFileA(profile_path_.c_str());
}

void PluginHost::StartAndInstall() {
    std::string why;
    ASSERT_TRUE(test_host::StartAndInstall({module_, start_, install_, idle_}, why)) << why;
}

void InstalledPlugin::SetUp() {
    PluginHost::SetUp();
    if (HasFatalFailure())
        return;
    StartAndInstall();
    first_dialog_ = DialogCount();
}

std::vector<VsDialogCall> PluginHost::DialogsFrom(int first) {
    std::vector<VsDialogCall> calls;
    for (int i = first; i < VsDialogCallCount(); ++i)
        calls.push_back(*VsDialogCallAt(i));
    return calls;
}

std::string PluginHost::ProfileText() const {
    return test_host::ReadBytes(profile_path_);
}

void PluginHost::WriteProfile(const std::string& text) const {
    test_host::WriteBytes(profile_path_, text);
}

std::string PluginHost::PluginFileName() const {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(module_, path, sizeof path);
    const char* slash = strrchr(path, '\\');
    return slash != nullptr ? slash + 1 : path;
}

std::string Text(const char* text) {
    return text != nullptr ? text : "";
}
