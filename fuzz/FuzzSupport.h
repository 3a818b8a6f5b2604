#pragma once

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// Shared by the fuzz targets: a private temporary folder that stands in for HOME and XDG (the
// code under test writes logs and settings there, never into the real home), the Qt
// application object the code expects, and message boxes that answer themselves.
namespace FuzzSupport {

enum class App
{
    Core,
    Gui
};

// Sets everything up on the first call; later calls only return the folder.
QString Start(App app = App::Core);

// The fuzzer's bytes as a byte array that does not copy them.
QByteArray Bytes(const uint8_t* data, size_t size);

// Writes bytes into a file of the folder (replacing it); the file's full path.
QString WriteFile(const QString& name, const QByteArray& bytes);

// A finding: prints what broke and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Fail(const char* what, const QString& detail = QString());

} // namespace FuzzSupport
