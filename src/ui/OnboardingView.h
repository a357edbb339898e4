#pragma once

#include "ProviderRow.h"
#include "core/CalendarEvent.h"

#include <QHash>
#include <QWidget>
#include <optional>

class CalendarFeedForm;
class CalendarService;
class CapsuleButton;
class OnboardingFlow;
class QAbstractButton;
class QLabel;
class QStackedWidget;
class QVariantAnimation;

// The step indicator: one capsule per step, long and blue up to the current step.
class OnboardingStepIndicator : public QWidget {
    Q_OBJECT

public:
    explicit OnboardingStepIndicator(int count, QWidget *parent = nullptr);
    void setStep(int step);
    // Width of capsule `index` as currently drawn (mid-animation values included).
    qreal capsuleWidth(int index) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_count;
    int m_step = 0;
    int m_previousStep = 0;
    qreal m_progress = 1.0;
    QVariantAnimation *m_animation;
};

// One provider's row on the connect step: "Connect" while not connected, "Disconnect" after.
class OnboardingProviderRow : public ProviderRow {
    Q_OBJECT

public:
    explicit OnboardingProviderRow(CalendarProvider provider, QWidget *parent = nullptr);
    void setState(bool isConnected, bool isConnecting);
    // Greys out "Connect" and says why, or takes the reason away again.
    void setUnavailableReason(const std::optional<QString> &reason);

    CapsuleButton *connectButton() const { return m_connect; }
    QAbstractButton *disconnectButton() const { return m_disconnect; }

Q_SIGNALS:
    void connectRequested();
    void disconnectRequested();

private:
    CapsuleButton *m_connect;
    QAbstractButton *m_disconnect;
    QLabel *m_reason = nullptr;
};

// The first-run window's content: a welcome step, then connecting Google or Microsoft or
// adding a calendar feed, whose form takes the place of the three choices while it is open.
class OnboardingView : public QWidget {
    Q_OBJECT

public:
    static constexpr int contentWidth = 500;
    static constexpr int contentHeight = 540;

    explicit OnboardingView(CalendarService &calendarService, QWidget *parent = nullptr);

    OnboardingFlow *flow() const { return m_flow; }
    OnboardingProviderRow *providerRow(CalendarProvider provider) const {
        return m_rows.value(provider);
    }
    CalendarFeedForm *feedForm() const { return m_feedForm; }
    QLabel *errorLabel() const { return m_error; }
    // The line under the connect step's title.
    QLabel *connectSubtitle() const { return m_connectSubtitle; }

Q_SIGNALS:
    // "Get Started" on the last step.
    void completed();

private:
    QWidget *buildWelcome();
    QWidget *buildConnect();
    void refresh();
    void showFeedForm(bool shown);

    OnboardingFlow *m_flow;
    OnboardingStepIndicator *m_indicator;
    QStackedWidget *m_steps;
    QLabel *m_connectSymbol = nullptr;
    QLabel *m_connectSubtitle = nullptr;
    QLabel *m_error = nullptr;
    QWidget *m_connectedRow = nullptr;
    QHash<CalendarProvider, OnboardingProviderRow *> m_rows;
    QWidget *m_choices = nullptr;
    CalendarFeedForm *m_feedForm = nullptr;
    CapsuleButton *m_back;
    CapsuleButton *m_forward;
};
