#include "shell/core/DeliveryTimer.h"

#include "hostmail/process/CommandRunner.h"

namespace shell {

namespace {

struct Outcome {
    bool ran = false;
    int code = -1;
    QByteArray out;
    QByteArray err;
};

Outcome run(const QString &systemctl, const QStringList &args)
{
    const hostmail::CommandResult r = hostmail::runCommand(QStringList{systemctl} + args, {}, {15, 4096, nullptr});
    Outcome o;
    if (!r.started || r.timedOut)
        return o;
    o.ran = true;
    o.code = r.signal == 0 ? r.exitCode : -1;
    o.out = r.output.trimmed();
    o.err = r.errorTail;
    return o;
}

} // namespace

DeliveryTimerState ensureDeliveryTimer(const QString &systemctl)
{
    const QString timer = QStringLiteral("cheerpost-deliver.timer");
    const Outcome state = run(systemctl, {QStringLiteral("--user"), QStringLiteral("is-enabled"), timer});
    if (state.code == 0 && (state.out == "enabled" || state.out == "enabled-runtime" || state.out == "linked"))
        return DeliveryTimerState::Enabled;
    const Outcome enabled =
        run(systemctl, {QStringLiteral("--user"), QStringLiteral("enable"), QStringLiteral("--now"), timer});
    if (enabled.code == 0)
        return DeliveryTimerState::Enabled;
    const QByteArray said = state.err + enabled.err;
    if (!state.ran || said.contains("connect to bus") || said.contains("XDG_RUNTIME_DIR") ||
        said.contains("System has not been booted with systemd"))
        return DeliveryTimerState::NoUserManager;
    return DeliveryTimerState::NotInstalled;
}

QString deliveryTimerAdvice(DeliveryTimerState state)
{
    switch (state) {
    case DeliveryTimerState::Enabled:
        return QString();
    case DeliveryTimerState::NoUserManager:
        return QStringLiteral("Mail for a later day waits in the Outbox until cheerpost-deliver runs: schedule it, "
                              "for example every 15 minutes with cron (*/15 * * * * cheerpost-deliver).");
    case DeliveryTimerState::NotInstalled:
        return QStringLiteral("Mail for a later day waits in the Outbox until cheerpost-deliver runs: install "
                              "Cheerpost to get its delivery timer, or schedule cheerpost-deliver with cron.");
    }
    return QString();
}

} // namespace shell
