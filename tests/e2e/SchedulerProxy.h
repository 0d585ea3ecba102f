#pragma once

#include <QHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <cups/ipp.h>

#include <memory>

// A CUPS scheduler that is slow or unreliable on purpose: a local socket in front of a real one,
// passing every request through and holding back, dropping or replacing its answers to the IPP
// operations a test names. It runs on the test's thread, so the test must let events run (the
// link it serves waits on its own thread).
class SchedulerProxy : public QObject
{
public:
    enum class Act {
        Pass,
        Delay, // the answer comes `ms` late
        Drop, // the scheduler gets the request, the client loses the connection, no answer
        Busy, // answered with `status` (no attributes) in the scheduler's place
        Status, // the scheduler's answer, with `status` in place of its status-code
    };

    SchedulerProxy(const QString &path, const QString &scheduler)
        : m_scheduler(scheduler)
    {
        QLocalServer::removeServer(path);
        m_server.listen(path);
        connect(&m_server, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *client = m_server.nextPendingConnection())
                open(client);
        });
    }
    QString path() const { return m_server.fullServerName(); }

    // What happens to the answers to `op` from now on; `times` answers, then they pass again.
    void set(ipp_op_t op, Act act, int times = 1, int ms = 0, ipp_status_t status = IPP_STATUS_OK)
    {
        m_rules[op] = Rule { act, times, ms, status };
    }
    // Requests of `op` seen so far.
    int seen(ipp_op_t op) const { return m_seen.value(op); }

private:
    struct Rule
    {
        Act act = Act::Pass;
        int times = 0;
        int ms = 0;
        ipp_status_t status = IPP_STATUS_OK;
    };
    struct Pair
    {
        QPointer<QLocalSocket> client, server;
        QByteArray request; // of the client, not yet parsed
        bool inBody = false, chunked = false;
        qint64 left = 0; // of the body (or of the chunk), -1: a chunk's size line comes
        QByteArray head; // the body's first bytes, until the operation is known
        int requestId = 0;
        Rule rule; // for the answer to the request under way
        bool answered = false;
        QByteArray held;
    };

    void open(QLocalSocket *client)
    {
        auto pair = std::make_shared<Pair>();
        pair->client = client;
        pair->server = new QLocalSocket(client);
        pair->server->connectToServer(m_scheduler);
        connect(client, &QLocalSocket::readyRead, this, [this, pair] { fromClient(*pair); });
        connect(pair->server, &QLocalSocket::readyRead, this, [this, pair] { fromServer(*pair); });
        const auto close = [pair] {
            if (pair->client)
                pair->client->disconnectFromServer();
            if (pair->server)
                pair->server->disconnectFromServer();
        };
        connect(client, &QLocalSocket::disconnected, this, close);
        connect(pair->server, &QLocalSocket::disconnected, this, close);
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    }

    void fromClient(Pair &p)
    {
        const QByteArray data = p.client->readAll();
        if (p.server)
            p.server->write(data);
        p.request += data;
        parse(p);
    }

    // Follows the client's requests (HTTP/1.1 POSTs of IPP, by length or chunked) to learn each
    // one's operation as it starts.
    void parse(Pair &p)
    {
        for (;;) {
            if (!p.inBody) {
                const qsizetype end = p.request.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                const QByteArray header = p.request.left(end).toLower();
                p.request.remove(0, end + 4);
                p.inBody = true;
                p.chunked = header.contains("transfer-encoding: chunked");
                const qsizetype cl = header.indexOf("content-length:");
                p.left = p.chunked ? -1
                    : cl < 0       ? 0
                                   : header.mid(cl + 15, header.indexOf('\r', cl) - cl - 15)
                                   .trimmed()
                                   .toLongLong();
                p.head.clear();
                p.requestId = 0;
                p.answered = false;
                p.held.clear();
                if (!p.chunked && p.left == 0)
                    p.inBody = false;
                continue;
            }
            if (p.chunked && p.left < 0) {
                const qsizetype line = p.request.indexOf("\r\n");
                if (line < 0)
                    return;
                p.left = p.request.left(line).toLongLong(nullptr, 16);
                p.request.remove(0, line + 2);
                if (p.left == 0) { // the last chunk, and the empty line after it
                    if (p.request.size() < 2)
                        return;
                    p.request.remove(0, 2);
                    p.inBody = false;
                    continue;
                }
                p.left += 2; // the chunk's line end
            }
            const qint64 take = std::min<qint64>(p.left, p.request.size());
            if (take == 0)
                return;
            if (p.head.size() < 8) {
                p.head += p.request.left(std::min<qint64>(take, 8 - p.head.size()));
                if (p.head.size() >= 8)
                    begin(p);
            }
            p.request.remove(0, take);
            p.left -= take;
            if (p.left == 0) {
                if (p.chunked)
                    p.left = -1;
                else
                    p.inBody = false;
            }
        }
    }

    void begin(Pair &p)
    {
        const auto op = ipp_op_t((uchar(p.head[2]) << 8) | uchar(p.head[3]));
        p.requestId = int((uchar(p.head[4]) << 24) | (uchar(p.head[5]) << 16)
                          | (uchar(p.head[6]) << 8) | uchar(p.head[7]));
        ++m_seen[op];
        Rule &rule = m_rules[op];
        p.rule = rule.times > 0 ? rule : Rule {};
        if (rule.times > 0 && --rule.times == 0)
            rule.act = Act::Pass;
    }

    void fromServer(Pair &p)
    {
        QByteArray data = p.server->readAll();
        // "100 Continue" lets the client send its document; the answer proper follows.
        if (data.startsWith("HTTP/1.1 100")) {
            const qsizetype end = data.indexOf("\r\n\r\n");
            p.client->write(data.left(end + 4));
            data.remove(0, end + 4);
        }
        if (data.isEmpty() || !p.client)
            return;
        switch (p.rule.act) {
        case Act::Pass:
            p.client->write(data);
            return;
        case Act::Delay:
            p.held += data;
            if (std::exchange(p.answered, true))
                return;
            QTimer::singleShot(p.rule.ms, p.client, [pair = &p, client = p.client] {
                client->write(std::exchange(pair->held, {}));
                pair->rule.act = Act::Pass;
            });
            return;
        case Act::Drop:
            p.client->abort();
            return;
        case Act::Status: {
            if (p.answered) {
                p.client->write(data);
                return;
            }
            p.held += data;
            // The IPP answer's version, then its status-code, after the header (CUPS sends its
            // answers with a length, not in chunks).
            const qsizetype body = p.held.indexOf("\r\n\r\n") + 4;
            if (body < 4 || p.held.size() < body + 4)
                return;
            p.held[body + 2] = char(p.rule.status >> 8);
            p.held[body + 3] = char(p.rule.status & 0xff);
            p.answered = true;
            p.client->write(std::exchange(p.held, {}));
            return;
        }
        case Act::Busy:
            if (std::exchange(p.answered, true))
                return;
            QByteArray ipp;
            ipp += char(2), ipp += char(0);
            ipp += char(p.rule.status >> 8), ipp += char(p.rule.status & 0xff);
            for (int shift : { 24, 16, 8, 0 })
                ipp += char((p.requestId >> shift) & 0xff);
            ipp += char(IPP_TAG_OPERATION);
            const auto add = [&ipp](char tag, const QByteArray &name, const QByteArray &value) {
                ipp += tag, ipp += char(name.size() >> 8), ipp += char(name.size()), ipp += name;
                ipp += char(value.size() >> 8), ipp += char(value.size()), ipp += value;
            };
            add(char(IPP_TAG_CHARSET), "attributes-charset", "utf-8");
            add(char(IPP_TAG_LANGUAGE), "attributes-natural-language", "en");
            ipp += char(IPP_TAG_END);
            // The scheduler's own answer would follow this one: the connection closes after it.
            p.client->write("HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nConnection: "
                            "close\r\nContent-Length: "
                            + QByteArray::number(ipp.size()) + "\r\n\r\n" + ipp);
            p.client->disconnectFromServer();
            return;
        }
    }

    QLocalServer m_server;
    QString m_scheduler;
    QHash<int, Rule> m_rules;
    QHash<int, int> m_seen;
};
