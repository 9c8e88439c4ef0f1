#include "TraditionalConverter.h"

#include <opencc/opencc.h>

// The library's C functions, resolved once it is loaded; their types come from its header.
struct TraditionalConverter::Api
{
    decltype(&opencc_open) open = nullptr;
    decltype(&opencc_close) close = nullptr;
    decltype(&opencc_convert_utf8) convertUtf8 = nullptr;
    decltype(&opencc_convert_utf8_free) free = nullptr;
    decltype(&opencc_error) error = nullptr;
};

namespace {

// The phrase-level table: 鼠标 becomes 滑鼠 and 默认 預設, where a character-by-character
// mapping gives words no reader in Taiwan uses.
constexpr char kTable[] = "s2twp.json";

const opencc_t kFailed = reinterpret_cast<opencc_t>(-1);

} // namespace

TraditionalConverter::TraditionalConverter(const QString& library) : m_library(library) {}

TraditionalConverter::~TraditionalConverter()
{
    if (m_handle)
        m_api->close(m_handle);
}

QString TraditionalConverter::DefaultLibrary()
{
    return QStringLiteral(NIMBRIL_OPENCC_LIBRARY);
}

const TraditionalConverter& TraditionalConverter::Shared()
{
    static const TraditionalConverter converter;
    return converter;
}

void TraditionalConverter::load() const
{
    if (m_tried)
        return;
    m_tried = true;
    if (!m_library.load()) {
        m_problem = m_library.errorString();
        return;
    }
    auto api = std::make_unique<Api>();
    api->open = reinterpret_cast<decltype(Api::open)>(m_library.resolve("opencc_open"));
    api->close = reinterpret_cast<decltype(Api::close)>(m_library.resolve("opencc_close"));
    api->convertUtf8 =
        reinterpret_cast<decltype(Api::convertUtf8)>(m_library.resolve("opencc_convert_utf8"));
    api->free =
        reinterpret_cast<decltype(Api::free)>(m_library.resolve("opencc_convert_utf8_free"));
    api->error = reinterpret_cast<decltype(Api::error)>(m_library.resolve("opencc_error"));
    if (!api->open || !api->close || !api->convertUtf8 || !api->free) {
        m_problem = m_library.errorString();
        return;
    }
    const opencc_t handle = api->open(kTable);
    if (handle == kFailed) {
        m_problem = QStringLiteral("%1: %2").arg(QString::fromLatin1(kTable),
                                                 api->error ? QString::fromUtf8(api->error())
                                                            : QStringLiteral("cannot be opened"));
        return;
    }
    m_api = std::move(api);
    m_handle = handle;
}

QString TraditionalConverter::convert(const QString& text) const
{
    if (text.isEmpty())
        return text;
    load();
    if (!m_handle)
        return text;
    const QByteArray utf8 = text.toUtf8();
    char* out = m_api->convertUtf8(m_handle, utf8.constData(), size_t(utf8.size()));
    if (!out)
        return text;
    QString result = QString::fromUtf8(out);
    m_api->free(out);
    return result;
}

QString TraditionalConverter::problem() const
{
    load();
    return m_problem;
}
