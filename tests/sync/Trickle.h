#pragma once

// A server's answer handed out 1 to 7 bytes at a time, as a slow network
// would; for the DAV XML tests and the fuzz harness alike.

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <cstring>
#include <utility>

class TTrickle : public QIODevice {
public:
  explicit TTrickle(QByteArray ABytes) : Bytes(std::move(ABytes)) { open(ReadOnly | Unbuffered); }
  bool isSequential() const override { return true; }

protected:
  qint64 readData(char* Data, qint64 MaxSize) override {
    if (At >= Bytes.size()) return -1;
    const qint64 Size = std::min<qint64>({MaxSize, Bytes.size() - At, 1 + At % 7});
    memcpy(Data, Bytes.constData() + At, size_t(Size));
    At += Size;
    return Size;
  }
  qint64 writeData(const char*, qint64) override { return -1; }

private:
  QByteArray Bytes;
  qsizetype At = 0;
};
