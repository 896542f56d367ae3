#pragma once

#include <QStringList>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The agent's one window: the running log and two buttons. Minimised, it hides behind its notification-area icon
// (where the desktop has one); closing it, for whatever reason, is decided by whoever the agent makes responsible.
class Principal final : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLineasVisibles = 10000;
    // Four refreshes a second read as live; each repaint of the box costs more than many requests.
    static constexpr int kIntervaloRefrescoMs = 250;
    static constexpr int kLargoMaximoLinea = 4096;

    explicit Principal(QWidget* parent = nullptr);

    // Queues a log line for txtLog; lines reach the box in batches, in order.
    void AgregarLinea(const QString& linea);
    void VolcarLineas();

    // The icon in the notification area; nothing happens where the desktop has none.
    void MostrarIconoBandeja();
    void QuitarIconoBandeja();
    bool IconoEnBandeja() const;
    QSystemTrayIcon* IconoBandeja() const { return m_bandeja; }
    void AlActivarIcono(QSystemTrayIcon::ActivationReason motivo);

    // Decides whether a close request goes on: true lets the window close.
    void FijarDecisionCierre(std::function<bool()> decidir) { m_decidirCierre = std::move(decidir); }
    // Tells whether minimising may hide the window (a desktop with a notification area); replaceable by tests.
    void FijarHayBandeja(std::function<bool()> hayBandeja) { m_hayBandeja = std::move(hayBandeja); }

    QPlainTextEdit* txtLog() const { return m_txtLog; }
    QPushButton* Command1() const { return m_command1; }
    QPushButton* Command2() const { return m_command2; }
    QLabel* Label1() const { return m_label1; }

signals:
    void probarPeso();
    void reiniciarServidor();

protected:
    void changeEvent(QEvent* evento) override;
    void closeEvent(QCloseEvent* evento) override;
    void showEvent(QShowEvent* evento) override;

private:
    QLabel* m_label1;
    QPushButton* m_command1;
    QPushButton* m_command2;
    QPlainTextEdit* m_txtLog;
    QSystemTrayIcon* m_bandeja = nullptr;
    QStringList m_pendientes;
    QTimer m_refresco;
    std::function<bool()> m_decidirCierre;
    std::function<bool()> m_hayBandeja;
};
