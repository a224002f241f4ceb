#include "core/speech/whispermodel.h"

#include "core/base/logging.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Entry
{
    const char16_t *rawValue;
    const char16_t *displayName;
    const char16_t *sizeLabel;
    const char16_t *sha256;
    qint64 bytes;
};

const Entry &entry(WhisperModel model)
{
    static const Entry entries[] = {
        {u"base.en", u"Base (fast, English)", u"142 MB",
         u"a03779c86df3323075f5e796cb2ce5029f00ec8869eee3fdfb897afe36c6d002", 147964211},
        {u"base", u"Base (fast, multilingual)", u"142 MB",
         u"60ed5bc3dd14eea856493d334349b405782ddcaf0028d4b5df4088345fba2efe", 147951465},
        {u"small", u"Small (balanced)", u"466 MB",
         u"1be3a9b2063867b937e64e2ec7483364a79917e157fa98c5d94b5c1fffea987b", 487601967},
        {u"large-v3", u"Large v3 (most accurate)", u"2.9 GB",
         u"64d182b440b98d5203c4f9bd541544d84c605196c4f7b845dfa11fb23594d1e2", 3095033483},
    };
    return entries[model.value()];
}

const QString defaultBaseUrl = QStringLiteral("https://huggingface.co/ggerganov/whisper.cpp/resolve/main/");

} // namespace

QList<WhisperModel> WhisperModel::allCases()
{
    return {baseEn, base, small, largeV3};
}

std::optional<WhisperModel> WhisperModel::fromRawValue(QStringView rawValue)
{
    for (WhisperModel model : allCases()) {
        if (rawValue == QStringView(entry(model).rawValue))
            return model;
    }
    return std::nullopt;
}

std::optional<WhisperModel> WhisperModel::fromFileName(QStringView fileName)
{
    const QStringView prefix = u"ggml-";
    const QStringView suffix = u".bin";
    if (fileName.size() < prefix.size() + suffix.size() || !fileName.startsWith(prefix)
        || !fileName.endsWith(suffix))
        return std::nullopt;
    return fromRawValue(fileName.sliced(prefix.size(), fileName.size() - prefix.size() - suffix.size()));
}

QString WhisperModel::rawValue() const
{
    return QString::fromUtf16(entry(*this).rawValue);
}

QString WhisperModel::fileName() const
{
    return QStringLiteral("ggml-") + rawValue() + QStringLiteral(".bin");
}

QString WhisperModel::displayName() const
{
    return QString::fromUtf16(entry(*this).displayName);
}

QString WhisperModel::sizeLabel() const
{
    return QString::fromUtf16(entry(*this).sizeLabel);
}

qint64 WhisperModel::byteSize() const
{
    return entry(*this).bytes;
}

QString WhisperModel::sha256() const
{
    return QString::fromUtf16(entry(*this).sha256);
}

QUrl WhisperModel::downloadUrl() const
{
    return ModelCatalog::baseUrl().resolved(QUrl(fileName()));
}

namespace ModelCatalog {

QUrl baseUrl()
{
    QString base = qEnvironmentVariable("MURMEL_MODEL_BASE_URL");
    if (!base.isEmpty()) {
        if (!base.endsWith(u'/'))
            base += u'/';
        return QUrl(base);
    }
    QUrl url(defaultBaseUrl);
    const QUrl endpoint(qEnvironmentVariable("HF_ENDPOINT"));
    if (endpoint.isValid() && !endpoint.host().isEmpty()) {
        url.setScheme(endpoint.scheme());
        url.setHost(endpoint.host());
        url.setPort(endpoint.port());
        // A mirror may live below a path of its own.
        QString prefix = endpoint.path();
        while (prefix.endsWith(u'/'))
            prefix.chop(1);
        url.setPath(prefix + url.path());
    }
    return url;
}

QString expectedSha256(WhisperModel model)
{
    const QString catalogPath = qEnvironmentVariable("MURMEL_MODEL_CATALOG");
    if (catalogPath.isEmpty())
        return model.sha256();
    QFile file(catalogPath);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcSpeech) << "Cannot read the model catalog" << catalogPath << "-" << file.errorString();
        return model.sha256();
    }
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonValue digest = document.object().value(model.rawValue());
    if (!digest.isString()) {
        if (!document.isObject())
            qCWarning(lcSpeech) << "The model catalog" << catalogPath << "is not a JSON object";
        return model.sha256();
    }
    return digest.toString();
}

} // namespace ModelCatalog
