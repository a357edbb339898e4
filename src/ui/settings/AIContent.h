#pragma once

#include "SettingsBlocks.h"
#include "prep/LLMProvider.h"

#include <QHash>
#include <QWidget>

class AISettingsModel;
class Badge;
class CapsuleButton;
class QAbstractButton;
class QLabel;
class QLineEdit;
class Spinner;
class TextButton;

// The AI Research settings tab: choose a provider, get its key, paste and test it.
class AIContent : public SettingsTab {
    Q_OBJECT

public:
    explicit AIContent(AISettingsModel &model, QWidget *parent = nullptr);

    QAbstractButton *providerRow(LLMProvider provider) const {
        return m_providers.value(provider).row;
    }
    QLineEdit *keyField() const { return m_key; }
    CapsuleButton *testButton() const { return m_test; }
    QLabel *testResultLabel() const { return m_result; }
    TextButton *consoleLink() const { return m_link; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    AISettingsModel &m_model;
    // A provider's row, with its badge while its key is stored and its check while chosen.
    struct ProviderChoice {
        QAbstractButton *row = nullptr;
        Badge *badge = nullptr;
        QLabel *check = nullptr;
    };

    QHash<LLMProvider, ProviderChoice> m_providers;
    QLabel *m_instructions;
    TextButton *m_link;
    QLineEdit *m_key;
    CapsuleButton *m_test;
    Spinner *m_spinner;
    QLabel *m_result;
    QLabel *m_privacy;
};
