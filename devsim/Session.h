// One accepted connection on a device's data port: collects 60-byte
// requests, asks the device for the answer and sends it, bent by the fault
// in force. Everything runs on timers and socket signals, never blocking.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>

#include "Fault.h"

class QTcpSocket;

namespace devsim {

class Device;

class Session : public QObject {
    Q_OBJECT
  public:
    Session(QTcpSocket* socket, Device* device);

  private:
    struct Step {
        int delayMs = 0;
        QByteArray data;
        qint64 filler = 0;  // bytes of filler streamed after data
        bool close = false;
    };

    void onReadyRead();
    void takeRequests();
    void plan(const QByteArray& request, const FaultSettings& fault);
    void pump();

    QTcpSocket* socket_;
    Device* device_;
    QByteArray input_;
    QList<Step> steps_;
    bool waiting_ = false;  // a pause timer is running
    bool closing_ = false;
    bool taking_ = false;  // guards takeRequests against re-entry from pump
};

}  // namespace devsim
