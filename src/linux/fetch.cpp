#include "linux/fetch.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace orlimo {
namespace {

// Errors that carry a complete HTTP answer (4xx, 5xx): its body is the
// reply like any other.
bool IsHttpStatusError(QNetworkReply::NetworkError error) {
    const int code = static_cast<int>(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
}

}  // namespace

CUrlTextFetcher::CUrlTextFetcher() {
    // Redirects are followed, never from https to http: Qt 6's default,
    // which Qt 5 (whose default follows none) is told.
    nam_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { OnDeadline(); });
}

CUrlTextFetcher::~CUrlTextFetcher() { Cancel(); }

bool CUrlTextFetcher::FetchUrlText(const QUrl& url, std::function<void(const Result&)> done) {
    if (reply_) return false;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("orlimo"));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    text_ = ReplyText();
    done_ = std::move(done);
    reply_ = nam_.get(request);
    // Bounds what Qt buffers ahead of the reads below.
    reply_->setReadBufferSize(64 * 1024);
    connect(reply_, &QNetworkReply::readyRead, this, [this] { OnReadyRead(); });
    connect(reply_, &QNetworkReply::finished, this, [this] { OnFinished(); });
    deadline_.start(kDeadlineMs);
    return true;
}

void CUrlTextFetcher::Cancel() {
    ++generation_;  // a result already on its way is dropped
    done_ = nullptr;
    Drop();
}

void CUrlTextFetcher::OnReadyRead() {
    char buffer[16 * 1024];
    while (reply_ && reply_->bytesAvailable() > 0) {
        const qint64 n = reply_->read(buffer, sizeof buffer);
        if (n <= 0) break;
        if (!text_.Feed(buffer, static_cast<size_t>(n))) {
            // Enough has been read: the rest of the body is not wanted.
            Finish(text_.Finish());
            return;
        }
    }
}

bool CUrlTextFetcher::HeadersCame() const {
    return reply_ && reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
}

void CUrlTextFetcher::OnFinished() {
    OnReadyRead();
    if (!reply_) return;  // finished while reading
    const QNetworkReply::NetworkError error = reply_->error();
    const bool refused_redirect =
        error == QNetworkReply::InsecureRedirectError || error == QNetworkReply::TooManyRedirectsError;
    if (!HeadersCame() || refused_redirect) {
        const QString reason = reply_->url().toString() + QLatin1String(": ") + reply_->errorString();
        if (reason != logged_) qWarning("orlimo: poll failed: %s", qUtf8Printable(reason));
        logged_ = reason;
        Finish(std::string(kNoSocket));
    } else if (error == QNetworkReply::NoError || IsHttpStatusError(error)) {
        logged_.clear();
        Finish(text_.Finish());
    } else {
        Finish(std::nullopt);  // the body broke off
    }
}

void CUrlTextFetcher::OnDeadline() {
    if (!reply_) return;
    OnReadyRead();
    if (!reply_) return;
    if (!HeadersCame()) {
        const QString reason = reply_->url().toString() + QLatin1String(": no answer in time");
        if (reason != logged_) qWarning("orlimo: poll failed: %s", qUtf8Printable(reason));
        logged_ = reason;
    }
    Finish(HeadersCame() ? Result() : Result(std::string(kNoSocket)));
}

void CUrlTextFetcher::Finish(const Result& result) {
    Drop();
    auto done = std::move(done_);
    done_ = nullptr;
    if (!done) return;
    // Delivered from the event loop: the receiver may run a modal dialog,
    // which must not happen inside the network reply's own signal.
    const unsigned generation = generation_;
    QTimer::singleShot(0, this, [this, generation, done, result] {
        if (generation == generation_) done(result);
    });
}

void CUrlTextFetcher::Drop() {
    deadline_.stop();
    if (QNetworkReply* reply = reply_) {
        reply_ = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

}  // namespace orlimo
