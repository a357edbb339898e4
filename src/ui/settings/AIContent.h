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

    QAbstractButton *providerRow(LLMProvider provider) const { return m_rows.value(provider); }
    QLineEdit *keyField() const { return m_key; }
    CapsuleButton *testButton() const { return m_test; }
    QLabel *testResultLabel() const { return m_result; }
    TextButton *consoleLink() const { return m_link; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refresh();

    AISettingsModel &m_model;
    QHash<LLMProvider, QAbstractButton *> m_rows;
    QHash<LLMProvider, Badge *> m_badges;
    QHash<LLMProvider, QLabel *> m_checkmarks;
    QLabel *m_instructions;
    TextButton *m_link;
    QLineEdit *m_key;
    CapsuleButton *m_test;
    Spinner *m_spinner;
    QLabel *m_result;
    QLabel *m_privacy;
};
