#pragma once

#include "platform/cartstore/CartListing.h"

#include <QObject>
#include <QTimer>
#include <optional>

class PlayoutAudio;

// Lists the carts of a store that hold something, one batch per turn of the event loop, so that
// a window showing a large store stays responsive. Uses the store's CartListing when it has one
// and walks the store cart by cart otherwise.
class CartListLoader : public QObject
{
    Q_OBJECT

public:
    explicit CartListLoader(QObject* parent = nullptr);

    static constexpr int DefaultBatchSize = 2000;
    // Carts listed per turn; without a CartListing, carts visited per turn.
    int BatchSize() const { return m_batchSize; }
    void setBatchSize(int size) { m_batchSize = qMax(1, size); }

    // Starts from the store's first cart, abandoning a listing in progress. Nothing is read
    // before the event loop next runs.
    void Start(PlayoutAudio* store);
    // Abandons the listing; no further signal comes from it.
    void Stop();
    bool IsRunning() const { return m_store != nullptr; }

signals:
    // The next carts in the store's order.
    void BatchLoaded(const QList<CartSummary>& carts);
    void Finished();
    // The store failed; the listing ends without Finished.
    void Failed(const QString& reason);

private:
    void Step();
    QList<CartSummary> NextListed(const CartListing& listing, bool& done);
    QList<CartSummary> NextWalked(bool& done);

    PlayoutAudio* m_store = nullptr;
    QTimer m_timer;
    int m_batchSize = DefaultBatchSize;
    quint64 m_generation = 0;
    qint64 m_lastNumber = 0;
    // The next cart of the walk; empty before the walk starts.
    std::optional<QString> m_next;
};
