#pragma once

#include <QString>
#include <functional>
#include <memory>

class QObject;

// A progress display for long component work (a copy). The widgets library installs a factory
// that shows a dialog; without one, or without an owner window, nothing is shown.
class ProgressDisplay
{
public:
    virtual ~ProgressDisplay() = default;
    virtual void SetPercent(int percent) = 0;
    // True when the operator asked to stop.
    virtual bool Cancelled() const = 0;

    using Factory =
        std::function<std::unique_ptr<ProgressDisplay>(const QString& caption, QObject* owner)>;
    static void SetFactory(Factory factory);
    // nullptr when there is no owner window or no factory.
    static std::unique_ptr<ProgressDisplay> Create(const QString& caption, QObject* owner);
};
