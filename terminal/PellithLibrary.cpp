#include "terminal/PellithLibrary.h"

#include <stdexcept>

namespace {

TModuleHandle Load(const std::wstring& APath) {
    TModuleHandle module(LoadLibraryW(APath.c_str()));
    if (!module)
        throw std::runtime_error("cannot load " + Utf8(APath) + ": " +
                                 SystemErrorText(GetLastError()));
    return module;
}

// GetProcAddress by name; the cast goes through void(*)() so that -Wcast-function-type accepts
// the change of signature, which the library's export table vouches for.
template <class TFunction>
TFunction Resolve(HMODULE AModule, const char* AName, const std::wstring& APath) {
    const FARPROC address = GetProcAddress(AModule, AName);
    if (!address)
        throw std::runtime_error(Utf8(APath) + " does not export " + AName);
    return reinterpret_cast<TFunction>(reinterpret_cast<void (*)()>(address));
}

} // namespace

TPellithLibrary::TPellithLibrary(const std::wstring& APath) : TPellithLibrary(APath, Load(APath)) {}

TPellithLibrary::TPellithLibrary(std::wstring APath, TModuleHandle AModule)
    : TerminalCreate(Resolve<TTerminalCreate>(AModule.Get(), "TerminalCreate", APath)),
      TerminalProcessMsg(Resolve<TTerminalProcessMsg>(AModule.Get(), "TerminalProcessMsg", APath)),
      TerminalDelete(Resolve<TTerminalDelete>(AModule.Get(), "TerminalDelete", APath)),
      FPath(std::move(APath)), FModule(std::move(AModule)) {}

std::string SystemErrorText(DWORD ACode) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring message = length ? std::wstring(text, length) : std::wstring();
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' ||
                                message.back() == L' ' || message.back() == L'.'))
        message.pop_back();
    return "error " + std::to_string(ACode) + (message.empty() ? "" : " (" + Utf8(message) + ")");
}

std::string Utf8(const std::wstring& AText) {
    if (AText.empty())
        return {};
    const int length = WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, AText.data(), static_cast<int>(AText.size()), result.data(),
                        length, nullptr, nullptr);
    return result;
}

std::wstring Wide(const std::string& AUtf8) {
    if (AUtf8.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), static_cast<int>(AUtf8.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, AUtf8.data(), static_cast<int>(AUtf8.size()), result.data(),
                        length);
    return result;
}
