#pragma once

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// One of the four speech models Murmel offers, with everything the catalog knows of it.
// A value type; its texts are those the model pickers show.
class WhisperModel final
{
public:
    enum Case { baseEn, base, small, largeV3 };

    constexpr WhisperModel(Case value) : m_case(value) {}

    // The four models in the order the pickers list them.
    static QList<WhisperModel> allCases();
    static std::optional<WhisperModel> fromRawValue(QStringView rawValue);
    // "ggml-" + raw value + ".bin" exactly; anything else names no model.
    static std::optional<WhisperModel> fromFileName(QStringView fileName);

    constexpr Case value() const { return m_case; }
    QString rawValue() const;
    QString fileName() const;
    QString displayName() const;
    QString sizeLabel() const;
    // The published file's exact size: no download of it may grow larger.
    qint64 byteSize() const;
    // The published SHA-256 of the file, lower-case hex. Downloads and loads check
    // against ModelCatalog::expectedSha256, which a test catalog may replace.
    QString sha256() const;
    // The model repository's base address followed by the file name.
    QUrl downloadUrl() const;

    friend constexpr bool operator==(WhisperModel, WhisperModel) = default;

private:
    Case m_case;
};

inline size_t qHash(WhisperModel model, size_t seed = 0) noexcept
{
    return qHash(static_cast<int>(model.value()), seed);
}

// Where model files are fetched from and which checksums they must have.
namespace ModelCatalog {

// The repository folder the files live in, ending in "/". MURMEL_MODEL_BASE_URL replaces
// it whole; HF_ENDPOINT, the model hub's usual mirror variable, replaces its host.
QUrl baseUrl();

// The digest a downloaded or loaded file must have. When MURMEL_MODEL_CATALOG names a
// JSON file mapping raw names to digests, its entries replace the published ones (so
// tests can use generated files); otherwise, and for a model it does not list, the
// published value holds. The file is read at every call: it is tiny and calls are rare.
QString expectedSha256(WhisperModel model);

} // namespace ModelCatalog
