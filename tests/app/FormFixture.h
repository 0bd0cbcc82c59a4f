#pragma once

#include "app/InstDriverForm.h"
#include "platform/Error.h"
#include "tests/fakes/FakeServices.h"

#include <gtest/gtest.h>

namespace juv::test {

// One main window's logic over fresh fakes, registered as the main window the way the entry
// does it, for the whole test.
class FormTest : public ::testing::Test {
protected:
    FakeCommandLine commandLine;
    FakeShell shell;
    FakeProcesses processes;
    FakeResources resources;
    FakeFileSystem files;
    FakeUserInterface ui;
    FakeDevices devices;
    FakeSync sync;
    FakeDriverStore store{devices};
    TJUVDriverForm form{{commandLine, shell, processes, resources, files, ui, devices, sync, store}};

    FormTest() {
        JUVDriverForm = &form;
        processes.currentFolder = &files.currentDirectory;
    }
    ~FormTest() override { JUVDriverForm = nullptr; }

    void Parameters(const std::wstring& parameters) {
        commandLine.commandLine = L"\"" + commandLine.modulePath + L"\" " + parameters;
    }
    static std::vector<std::uint8_t> Bytes(std::size_t count, std::uint8_t fill = 0x5A) {
        return std::vector<std::uint8_t>(count, fill);
    }
};

} // namespace juv::test
