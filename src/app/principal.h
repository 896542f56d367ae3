#pragma once

#include <QStringList>
#include <QTimer>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The agent's one window: the running log and two buttons.
class Principal final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLineasVisibles = 10000;
    static constexpr int kIntervaloRefrescoMs = 100;

    explicit Principal(QWidget* parent = nullptr);

    // Queues a log line for txtLog; lines reach the box in batches, in order.
    void AgregarLinea(const QString& linea);
    void VolcarLineas();

    QPlainTextEdit* txtLog() const { return m_txtLog; }
    QPushButton* Command1() const { return m_command1; }
    QPushButton* Command2() const { return m_command2; }
    QLabel* Label1() const { return m_label1; }

signals:
    void probarPeso();
    void reiniciarServidor();

private:
    QLabel* m_label1;
    QPushButton* m_command1;
    QPushButton* m_command2;
    QPlainTextEdit* m_txtLog;
    QStringList m_pendientes;
    QTimer m_refresco;
};
