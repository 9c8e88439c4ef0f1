#include "WebSocketClient.h"

#include "LoopbackSocket.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <algorithm>
#include <utility>

namespace {

constexpr quint8 kContinuation = 0x0;
constexpr quint8 kText = 0x1;
constexpr quint8 kBinary = 0x2;
constexpr quint8 kClose = 0x8;
constexpr quint8 kPing = 0x9;
constexpr quint8 kPong = 0xA;
// An answer to the handshake longer than this is no answer.
constexpr qsizetype kLargestHandshake = 16 * 1024;

QByteArray AcceptFor(const QByteArray& key)
{
    return QCryptographicHash::hash(QByteArray(key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"),
                                    QCryptographicHash::Sha1)
        .toBase64();
}

} // namespace

WebSocketClient::WebSocketClient(qint64 largestMessage, QObject* parent)
    : QObject(parent), m_largestMessage(largestMessage)
{}

WebSocketClient::~WebSocketClient()
{
    abort();
}

void WebSocketClient::open(const QUrl& url)
{
    abort();
    m_url = url;
    m_state = State::Connecting;
    m_closeCode = 0;
    m_closeReason.clear();
    m_socket = new LoopbackSocket(this);
    connect(m_socket, &LoopbackSocket::connected, this, &WebSocketClient::onConnected);
    connect(m_socket, &LoopbackSocket::readyRead, this, &WebSocketClient::onReadyRead);
    connect(m_socket, &LoopbackSocket::disconnected, this, &WebSocketClient::onSocketGone);
    connect(m_socket, &LoopbackSocket::errorOccurred, this, [this] {
        if (m_state == State::Connecting || m_state == State::Handshake)
            fail(m_socket->errorString());
        else
            onSocketGone();
    });
    m_socket->connectToHost(url.host(), quint16(url.port(80)));
}

bool WebSocketClient::sendText(const QByteArray& utf8)
{
    if (m_state != State::Open)
        return false;
    sendFrame(kText, utf8);
    return true;
}

void WebSocketClient::abort()
{
    if (!m_socket)
        return;
    LoopbackSocket* socket = m_socket;
    m_socket = nullptr;
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater(); // may be inside one of its own signals
    if (m_state != State::Idle)
        m_state = State::Closed;
    m_buffer.clear();
    m_message.clear();
    m_inMessage = false;
}

void WebSocketClient::onConnected()
{
    m_state = State::Handshake;
    QByteArray key(16, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(key.data()), 4);
    m_key = key.toBase64();
    QByteArray path = m_url.path(QUrl::FullyEncoded).toUtf8();
    if (path.isEmpty())
        path = "/";
    if (m_url.hasQuery())
        path += '?' + m_url.query(QUrl::FullyEncoded).toUtf8();
    // No Origin header (the browser refuses any but its own) and no extensions offered.
    m_socket->write("GET " + path + " HTTP/1.1\r\nHost: " + m_url.host().toUtf8() + ':' +
                    QByteArray::number(m_url.port(80)) +
                    "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: " + m_key +
                    "\r\nSec-WebSocket-Version: 13\r\n\r\n");
}

void WebSocketClient::onReadyRead()
{
    if (!m_socket)
        return;
    m_buffer += m_socket->readAll();
    if (m_state == State::Handshake && !readHandshake())
        return;
    if (m_state == State::Open)
        readFrames();
}

bool WebSocketClient::readHandshake()
{
    const qsizetype end = m_buffer.indexOf("\r\n\r\n");
    if (end < 0) {
        if (m_buffer.size() > kLargestHandshake)
            fail(QStringLiteral("the handshake answer is too long"));
        return false;
    }
    const QList<QByteArray> lines = m_buffer.left(end).split('\n');
    const QList<QByteArray> status = lines.value(0).trimmed().split(' ');
    if (status.size() < 2 || !status[0].startsWith("HTTP/1.") || status[1] != "101") {
        fail(QStringLiteral("the handshake was refused (%1)")
                 .arg(QString::fromLatin1(lines.value(0).trimmed().left(80))));
        return false;
    }
    QByteArray accept, upgrade;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        if (name == "sec-websocket-accept")
            accept = lines[i].mid(colon + 1).trimmed();
        else if (name == "upgrade")
            upgrade = lines[i].mid(colon + 1).trimmed().toLower();
    }
    if (accept != AcceptFor(m_key) || upgrade != "websocket") {
        fail(QStringLiteral("the handshake answer is not a websocket's"));
        return false;
    }
    m_buffer.remove(0, end + 4);
    m_state = State::Open;
    Q_EMIT connected();
    return m_state == State::Open;
}

bool WebSocketClient::readFrames()
{
    // Frames are taken from `at` on; what they used is dropped from the buffer once, at the end,
    // so that many small replies in one read cost no copying each.
    qsizetype at = 0;
    const auto keepRest = qScopeGuard([&] {
        if (at > 0)
            m_buffer.remove(0, std::min(at, m_buffer.size()));
    });
    while (m_state == State::Open) {
        const qsizetype available = m_buffer.size() - at;
        const auto byte = [&](qsizetype i) { return quint8(m_buffer[at + i]); };
        if (available < 2)
            return true;
        const bool fin = byte(0) & 0x80;
        const quint8 opcode = byte(0) & 0x0F;
        qsizetype header = 2;
        quint64 length = byte(1) & 0x7F;
        if (length == 126) {
            if (available < 4)
                return true;
            length = (quint64(byte(2)) << 8) | byte(3);
            header = 4;
        } else if (length == 127) {
            if (available < 10)
                return true;
            length = 0;
            for (int i = 2; i < 10; ++i)
                length = (length << 8) | byte(i);
            header = 10;
        }
        if ((byte(0) & 0x70) || (byte(1) & 0x80)) { // no extension was agreed; servers never mask
            closeWith(CloseProtocolError, QStringLiteral("a malformed frame"));
            return false;
        }
        // Decided on the announced length, before any of the payload is read.
        if (length > quint64(m_largestMessage) ||
            (opcode == kContinuation &&
             quint64(m_message.size()) + length > quint64(m_largestMessage))) {
            closeWith(CloseTooMuchData,
                      QStringLiteral("a message of more than %1 bytes").arg(m_largestMessage));
            return false;
        }
        if (quint64(available - header) < length)
            return true;
        const QByteArray payload = m_buffer.mid(at + header, qsizetype(length));
        at += header + qsizetype(length);

        switch (opcode) {
        case kText:
        case kBinary:
        case kContinuation:
            if ((opcode == kContinuation) != m_inMessage) {
                closeWith(CloseProtocolError, QStringLiteral("frames out of order"));
                return false;
            }
            m_inMessage = !fin;
            if (!fin) {
                m_message += payload;
            } else if (m_message.isEmpty()) {
                Q_EMIT textMessageReceived(payload);
            } else {
                m_message += payload;
                Q_EMIT textMessageReceived(std::exchange(m_message, {}));
            }
            break;
        case kPing:
            sendFrame(kPong, payload);
            break;
        case kPong:
            break;
        case kClose:
            m_closeCode = payload.size() >= 2
                              ? quint16((quint8(payload[0]) << 8) | quint8(payload[1]))
                              : quint16(CloseNormal);
            m_closeReason = QString::fromUtf8(payload.mid(2));
            sendFrame(kClose, payload.left(2));
            m_socket->flush();
            abort();
            Q_EMIT disconnected();
            return false;
        default:
            closeWith(CloseProtocolError, QStringLiteral("an unknown frame"));
            return false;
        }
    }
    return false;
}

void WebSocketClient::sendFrame(quint8 opcode, const QByteArray& payload)
{
    QByteArray frame;
    frame.reserve(payload.size() + 14);
    frame += char(0x80 | opcode);
    const qsizetype n = payload.size();
    if (n < 126) {
        frame += char(0x80 | n);
    } else if (n < 65536) {
        frame += char(0x80 | 126);
        frame += char(n >> 8);
        frame += char(n & 0xFF);
    } else {
        frame += char(0x80 | 127);
        for (int shift = 56; shift >= 0; shift -= 8)
            frame += char((quint64(n) >> shift) & 0xFF);
    }
    // Every frame a client sends is masked.
    const quint32 key = QRandomGenerator::global()->generate();
    const char mask[4] = {char(key >> 24), char(key >> 16), char(key >> 8), char(key)};
    frame.append(mask, 4);
    const qsizetype start = frame.size();
    frame += payload;
    char* p = frame.data() + start;
    for (qsizetype i = 0; i < n; ++i)
        p[i] ^= mask[i & 3];
    m_socket->write(frame);
}

void WebSocketClient::closeWith(quint16 code, const QString& reason)
{
    m_closeCode = code;
    m_closeReason = reason;
    if (m_socket && m_state == State::Open) {
        sendFrame(kClose, QByteArray{char(code >> 8), char(code & 0xFF)});
        m_socket->flush();
    }
    abort();
    Q_EMIT disconnected();
}

void WebSocketClient::onSocketGone()
{
    if (m_state == State::Connecting || m_state == State::Handshake) {
        fail(QStringLiteral("the connection was closed"));
        return;
    }
    if (m_state != State::Open)
        return;
    abort();
    Q_EMIT disconnected();
}

void WebSocketClient::fail(const QString& why)
{
    abort();
    Q_EMIT failed(why);
}
