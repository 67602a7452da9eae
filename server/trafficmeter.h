#ifndef TRAFFICMETER_H
#define TRAFFICMETER_H

#include <QObject>

// The bytes all connections of one listener have read and written, and the limit of their sum.
// The counters only grow; the limit, once reached, holds until the listener clears it.
class TrafficMeter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    void countSent(qint64 n);
    void countReceived(qint64 n);
    bool isLimited() const { return limit > 0; }
    bool isReached() const { return limitReached; }

    qint64 sentBytes = 0;
    qint64 receivedBytes = 0;
    // In bytes; 0: none.
    qint64 limit = 0;
    // Set when the sum reaches the limit, or when the listener stops all its connections.
    bool limitReached = false;

signals:
    // The sum of the counters reached the limit (once, while limitReached was clear).
    void dataLimit();

private:
    void check();
};

#endif
