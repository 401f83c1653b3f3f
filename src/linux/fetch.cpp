#include "linux/fetch.h"

#include <QNetworkReply>
#include <QNetworkRequest>

namespace orlimo {

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
    // An error page (a maintenance page, a proxy's 502) is no reply to the
    // query, whatever its text: the poll failed.
    const QString failed = FailedStatus();
    if (!failed.isEmpty()) {
        Fail(failed);
        return;
    }
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

QString CUrlTextFetcher::FailedStatus() const {
    if (!HeadersCame()) return QString();
    const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status >= 200 && status <= 299) return QString();
    const QString phrase = reply_->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString().simplified();
    return QStringLiteral("HTTP status %1 %2").arg(status).arg(phrase).trimmed();
}

void CUrlTextFetcher::Fail(const QString& why) {
    const QString reason = reply_->url().toString() + QLatin1String(": ") + why;
    if (reason != logged_) qWarning("orlimo: poll failed: %s", qUtf8Printable(reason));
    logged_ = reason;
    Finish(std::string(kNoSocket));
}

void CUrlTextFetcher::OnFinished() {
    OnReadyRead();
    if (!reply_) return;  // finished while reading
    const QNetworkReply::NetworkError error = reply_->error();
    const bool refused_redirect =
        error == QNetworkReply::InsecureRedirectError || error == QNetworkReply::TooManyRedirectsError;
    const QString failed = FailedStatus();
    if (!HeadersCame() || refused_redirect) {
        Fail(reply_->errorString());
    } else if (!failed.isEmpty()) {
        // The final reply's status, after any redirects, is not a success.
        Fail(failed);
    } else if (error == QNetworkReply::NoError) {
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
    // No reply headers in time, or only a redirect's whose next hop has not
    // answered: the poll failed. A success whose body stalls gives nothing.
    if (!HeadersCame()) {
        Fail(QStringLiteral("no answer in time"));
    } else if (!FailedStatus().isEmpty()) {
        Fail(FailedStatus());
    } else {
        Finish(std::nullopt);
    }
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
