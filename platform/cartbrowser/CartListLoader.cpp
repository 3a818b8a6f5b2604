#include "platform/cartbrowser/CartListLoader.h"

#include "platform/cartstore/Cart.h"
#include "platform/cartstore/PlayoutAudio.h"
#include "platform/system/ToolError.h"

#include <exception>

CartListLoader::CartListLoader(QObject* parent) : QObject(parent)
{
    m_timer.setSingleShot(true);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &CartListLoader::Step);
}

void CartListLoader::Start(PlayoutAudio* store)
{
    Stop();
    if (!store) {
        return;
    }
    m_store = store;
    m_lastNumber = 0;
    m_next.reset();
    m_timer.start();
}

void CartListLoader::Stop()
{
    ++m_generation;
    m_timer.stop();
    m_store = nullptr;
    m_next.reset();
}

void CartListLoader::Step()
{
    if (!m_store) {
        return;
    }
    QList<CartSummary> carts;
    bool done = false;
    try {
        if (const auto* listing = dynamic_cast<const CartListing*>(m_store)) {
            carts = NextListed(*listing, done);
        } else {
            carts = NextWalked(done);
        }
    } catch (const ToolError& error) {
        Stop();
        emit Failed(error.Description());
        return;
    } catch (const std::exception& error) {
        Stop();
        emit Failed(QString::fromLocal8Bit(error.what()));
        return;
    }
    if (done) {
        Stop();
    } else {
        m_timer.start();
    }
    // A receiver may stop or restart the listing; then this one must not report its end.
    const quint64 generation = m_generation;
    if (!carts.isEmpty()) {
        emit BatchLoaded(carts);
    }
    if (done && generation == m_generation) {
        emit Finished();
    }
}

QList<CartSummary> CartListLoader::NextListed(const CartListing& listing, bool& done)
{
    const QList<CartSummary> carts = listing.ListCarts(m_lastNumber, m_batchSize);
    if (!carts.isEmpty()) {
        m_lastNumber = carts.constLast().Number;
    }
    done = carts.size() < m_batchSize;
    return carts;
}

QList<CartSummary> CartListLoader::NextWalked(bool& done)
{
    if (!m_next) {
        m_next = m_store->GetFirstCart(QString());
    }
    QList<CartSummary> carts;
    for (int visited = 0; visited < m_batchSize && !m_next->isEmpty(); ++visited) {
        const QString reference = *m_next;
        if (const auto cart = m_store->GetCart(reference, 3, false); cart && cart->Length > 0) {
            CartSummary summary;
            bool numeric = false;
            summary.Number = reference.trimmed().toLongLong(&numeric);
            if (!numeric) {
                summary.Number = 0;
            }
            summary.HDReference = reference;
            summary.Title = cart->Title;
            summary.Artist = cart->Artist;
            summary.Length = cart->Length;
            carts.append(summary);
        }
        QString next = m_store->GetNextCart(reference);
        // A store that names the same cart again would hold the walk forever.
        m_next = next == reference ? QString() : next;
    }
    done = m_next->isEmpty();
    return carts;
}
