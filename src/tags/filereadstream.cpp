#include "tags/filereadstream.h"

#include <algorithm>

namespace {

// A window: the metadata of most files in one read; the end of a file (its last tags) in a smaller one.
constexpr qint64 kWindow = qint64(16) << 10;
constexpr qint64 kEndWindow = qint64(4) << 10;

} // namespace

FileReadStream::FileReadStream(const platform::ReadOnlyFile &file, const QByteArray &nativeName)
    : m_file(file), m_name(nativeName), m_size(file.Status().size)
{
}

TagLib::ByteVector FileReadStream::readBlock(unsigned long length)
{
    TagLib::ByteVector out;
    qint64 wanted = std::min<qint64>(qint64(length), std::max<qint64>(0, m_size - m_at));
    while (wanted > 0) {
        const Window *held = nullptr;
        for (const Window &w : m_windows) {
            if (w.at >= 0 && m_at >= w.at && m_at < w.at + w.bytes.size())
                held = &w;
        }
        if (!held && wanted > kWindow) {
            // A large block (a picture): read as it stands, past the windows.
            QByteArray bytes;
            if (m_file.ReadAt(m_at, wanted, bytes) != 0 || bytes.isEmpty())
                break;
            out.append(TagLib::ByteVector(bytes.constData(), uint(bytes.size())));
            m_at += bytes.size();
            break;
        }
        if (!held) {
            // The window the older one was: near the end of the file, the end itself.
            Window &w = m_windows[m_older];
            m_older = 1 - m_older;
            w.at = m_at + kWindow > m_size ? std::max<qint64>(0, std::min(m_at, m_size - kEndWindow)) : m_at;
            if (m_file.ReadAt(w.at, std::min(kWindow, m_size - w.at), w.bytes) != 0 || m_at >= w.at + w.bytes.size()) {
                w.at = -1;
                w.bytes.clear();
                break;
            }
            held = &w;
        }
        const qint64 from = m_at - held->at;
        const qint64 n = std::min<qint64>(wanted, held->bytes.size() - from);
        out.append(TagLib::ByteVector(held->bytes.constData() + from, uint(n)));
        m_at += n;
        wanted -= n;
    }
    return out;
}

void FileReadStream::seek(long offset, Position position)
{
    qint64 at = offset;
    if (position == Current)
        at += m_at;
    else if (position == End)
        at += m_size;
    m_at = std::max<qint64>(0, at);
}
