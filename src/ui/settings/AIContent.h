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
    Badge *keyBadge(LLMProvider provider) const { return m_providers.value(provider).badge; }
    // Why the key last failed with the chosen provider, under the field.
    QLabel *keyProblemLabel() const { return m_problem; }
    TextButton *consoleLink() const { return m_link; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    AISettingsModel &m_model;
    // A provider's row; while chosen, its check and the badge that says whether the key works.
    struct ProviderChoice {
        QAbstractButton *row = nullptr;
        Badge *badge = nullptr;
        QLabel *check = nullptr;
    };

    QHash<LLMProvider, ProviderChoice> m_providers;
    QLabel *m_instructions;
    TextButton *m_link;
    QLineEdit *m_key;
    QLabel *m_problem;
    CapsuleButton *m_test;
    Spinner *m_spinner;
    QLabel *m_result;
    QLabel *m_privacy;
};
