#include "tests/win32/dll/ChildProcess.h"

#include <gtest/gtest.h>

#include "platform/Win32.h"
#include "terminal/PellithLibrary.h"
#include "terminal/tests/TestMain.h"

const std::wstring& DllPath() {
    static const std::wstring path = TestOption("dll");
    return path;
}

bool InChildProcess() {
    return TestOption("child") == L"1";
}

TKernelHandle StartThisTestInChildProcess(const std::wstring& AExtraArguments) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    if (!test) {
        ADD_FAILURE() << "no test is running to start again";
        return TKernelHandle();
    }
    wchar_t self[MAX_PATH * 2] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH * 2);
    std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=" +
                               Wide(test->test_suite_name()) + L"." + Wide(test->name()) +
                               L" \"--dll=" + DllPath() + L"\" --child=1 " + AExtraArguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(self, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        ADD_FAILURE() << "cannot start the child process: " << SystemErrorText(GetLastError());
        return TKernelHandle();
    }
    CloseHandle(process.hThread);
    return TKernelHandle(process.hProcess);
}

int RunThisTestInChildProcess(std::chrono::seconds ADeadline, const std::wstring& AExtraArguments) {
    const TKernelHandle processHandle = StartThisTestInChildProcess(AExtraArguments);
    if (!processHandle)
        return -1;
    const auto milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(ADeadline);
    if (WaitForSingleObject(processHandle.Get(), static_cast<DWORD>(milliseconds.count())) !=
        WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 99);
        WaitForSingleObject(processHandle.Get(), 10000);
        ADD_FAILURE() << "the child process did not end within " << ADeadline.count() << " s";
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(processHandle.Get(), &code);
    return static_cast<int>(code);
}
