#pragma once

#include <QtGlobal>
#include <functional>
#include <memory>

// Work that can run for long on the window thread (decoding a large file, unpacking a transport
// file, a copy, a mail to a slow server) calls Breathe() often. While a Scope is open, Breathe
// hands control to the scope's handler every few tens of milliseconds, so that the window can
// paint and take a close, and the handler's answer tells the work whether to go on. Without a
// scope Breathe does nothing and the work runs through.
class LongWork
{
public:
    // Processes what waits for the window; false when the work must stop (the program closes).
    using Handler = std::function<bool()>;

    class Scope
    {
    public:
        explicit Scope(Handler handler);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        struct Saved;
        std::unique_ptr<Saved> m_saved;
    };

    // The error number of component work cut short this way (Visual Basic's "User interrupt
    // occurred").
    static constexpr qint32 StoppedError = 18;

    // True: go on. False: stop; it stays false until the scope closes.
    static bool Breathe();
    // A Breathe of the open scope answered false.
    static bool Stopped();
    // A scope's handler is running: the window has its turn in the middle of some work, so no
    // other work should start from here.
    static bool Breathing();
};
