#pragma once

#include <QObject>
#include <QStringList>
#include <QVariant>

// Records signals of a worker-thread object in order, as the window would receive them
// (queued to the test's thread), e.g. PostConnectionStatus("Success", 1).
class SignalLog : public QObject
{
public:
    template <typename Sender, typename... Args>
    void watch(Sender *sender, void (Sender::*signal)(Args...), const QString &name)
    {
        connect(
            sender, signal, this,
            [this, name](Args... args) {
                append(name, QVariantList{QVariant::fromValue(args)...});
            },
            Qt::QueuedConnection);
    }

    QStringList entries() const { return mEntries; }
    QList<QVariantList> argumentsOf(const QString &name) const
    {
        QList<QVariantList> result;
        for (const auto &entry : mRaw) {
            if (entry.first == name)
                result.append(entry.second);
        }
        return result;
    }
    void clear()
    {
        mEntries.clear();
        mRaw.clear();
    }

private:
    void append(const QString &name, const QVariantList &args)
    {
        QStringList parts;
        for (const QVariant &arg : args) {
            parts << (arg.userType() == QMetaType::QString
                          ? QLatin1Char('"') + arg.toString() + QLatin1Char('"')
                          : arg.toString());
        }
        mEntries << name + QLatin1Char('(') + parts.join(QLatin1String(", ")) + QLatin1Char(')');
        mRaw.append({name, args});
    }

    QStringList mEntries;
    QList<QPair<QString, QVariantList>> mRaw;
};
