#pragma once

#include "platform/fileio.h"

#include <QByteArray>

#include <taglib/tiostream.h>

// A read-only TagLib stream over a file that is open already. TagLib reads a file in many small pieces, seeking
// between its start (the metadata) and its end (where ID3v1 and APE tags are looked for); here two windows of the
// file are held, each filled with one read, so those pieces cost no system calls. Nothing is ever written.
class FileReadStream : public TagLib::IOStream
{
public:
    FileReadStream(const platform::ReadOnlyFile &file, const QByteArray &nativeName);

    TagLib::FileName name() const override { return m_name.constData(); }
    TagLib::ByteVector readBlock(unsigned long length) override;
    void writeBlock(const TagLib::ByteVector &) override {}
    void insert(const TagLib::ByteVector &, unsigned long, unsigned long) override {}
    void removeBlock(unsigned long, unsigned long) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return true; }
    void seek(long offset, Position position = Beginning) override;
    long tell() const override { return long(m_at); }
    long length() override { return long(m_size); }
    void truncate(long) override {}

private:
    struct Window
    {
        qint64 at = -1;
        QByteArray bytes;
    };
    const platform::ReadOnlyFile &m_file;
    QByteArray m_name;
    qint64 m_size = 0, m_at = 0;
    Window m_windows[2];
    int m_older = 0;
};
