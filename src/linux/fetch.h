// The notification query over HTTP, beside the user interface.
#pragma once
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <optional>
#include <string>

#include "core/poller.h"

namespace orlimo {

// One GET at a time, User-Agent "orlimo", the system's proxy settings, no
// cache, a deadline of its own. https:// goes over Qt's TLS with the
// system's trusted roots, nothing ignored; redirects are followed unless
// they lead from https:// to http:// (Qt's default policy). The result comes back from the event loop,
// never from inside Start, exactly once unless Cancel comes first:
//  - the reply body as ReplyText makes it (at most 100 lines, each line's
//    first 64 KiB, at most 1 MiB read) when the final status is 200-299;
//  - "no socket." when no reply headers came: no connection, a name that
//    does not resolve, a refused or reset connection, a certificate that
//    is not trusted or not for the host, the deadline; also a redirect
//    that is refused, and a final status outside 200-299 (an error page,
//    a proxy's 407, 502 or 504), whose body is not read. The reason goes
//    to standard error (the session's log), once for a run of the same
//    reason;
//  - nothing when a success's body failed or stalled after the headers.
class CUrlTextFetcher : public QObject {
public:
    using Result = std::optional<std::string>;
    static constexpr int kDeadlineMs = 30000;

    CUrlTextFetcher();
    ~CUrlTextFetcher() override;

    // False (and nothing comes back) when a query is running already.
    bool FetchUrlText(const QUrl& url, std::function<void(const Result&)> done);
    // Gives up the running query; its result never comes.
    void Cancel();
    bool Running() const { return reply_ != nullptr; }

private:
    void OnReadyRead();
    void OnFinished();
    void OnDeadline();
    bool HeadersCame() const;
    // "HTTP status N PHRASE" when the reply's status is not a success;
    // empty when it is, or when no headers came yet.
    QString FailedStatus() const;
    // Ends the query as "no socket." and logs why (once for a run of the
    // same reason).
    void Fail(const QString& why);
    void Finish(const Result& result);
    void Drop();

    QNetworkAccessManager nam_;
    QPointer<QNetworkReply> reply_;
    QTimer deadline_;
    ReplyText text_;
    std::function<void(const Result&)> done_;
    unsigned generation_ = 0;
    QString logged_;  // the failure reason written last; empty after a good poll
};

}  // namespace orlimo
