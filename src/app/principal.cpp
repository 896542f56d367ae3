#include "app/principal.h"

#include "app/avisos_ventana.h"
#include "base/registro.h"
#include "base/texto.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QTextBlock>
#include <QTextCursor>

namespace {

// A push button whose caption wraps onto a second line when it does not fit: the captions are longer than the
// fixed button widths.
class BotonMultilinea final : public QPushButton
{
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter pintor(this);
        QStyleOptionButton opcion;
        initStyleOption(&opcion);
        const QString texto = opcion.text;
        opcion.text.clear();
        pintor.drawControl(QStyle::CE_PushButton, opcion);
        const QRect zona = style()->subElementRect(QStyle::SE_PushButtonContents, &opcion, this).adjusted(1, 0, -1, 0);
        pintor.drawItemText(zona, Qt::AlignCenter | Qt::TextWordWrap, opcion.palette, isEnabled(), texto,
                            QPalette::ButtonText);
    }
};

} // namespace

Principal::Principal(QWidget* parent)
    : QWidget(parent)
    , m_label1(new QLabel(QStringLiteral("LOG ..."), this))
    , m_command1(new BotonMultilinea(QStringLiteral("Probar peso ??"), this))
    , m_command2(new BotonMultilinea(QStringLiteral("?? Reiniciar Servidor"), this))
    , m_txtLog(new QPlainTextEdit(this))
    , m_hayBandeja([this] { return QSystemTrayIcon::isSystemTrayAvailable() && IconoEnBandeja(); })
{
    Q_INIT_RESOURCE(recursos);
    QIcon icono;
    icono.addFile(QStringLiteral(":/tornavo-64.png"), QSize(64, 64));
    icono.addFile(QStringLiteral(":/tornavo-32.png"), QSize(32, 32));
    setWindowIcon(icono);
    setObjectName(QStringLiteral("Principal"));
    setWindowTitle(QStringLiteral("Plugin Tornavo"));
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_command1->setObjectName(QStringLiteral("Command1"));
    m_command2->setObjectName(QStringLiteral("Command2"));
    m_txtLog->setObjectName(QStringLiteral("txtLog"));

    // Fixed positions in device-independent pixels; Qt scales them on high-DPI screens.
    setFixedSize(461, 318);
    m_label1->setGeometry(8, 24, 129, 33);
    m_command1->setGeometry(184, 8, 105, 33);
    m_command2->setGeometry(376, 8, 81, 33);
    m_txtLog->setGeometry(8, 48, 441, 257);

    m_txtLog->setReadOnly(true);
    m_txtLog->setUndoRedoEnabled(false);
    m_txtLog->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_txtLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_txtLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    setTabOrder(m_command1, m_txtLog);
    setTabOrder(m_txtLog, m_command2);

    connect(m_command1, &QPushButton::clicked, this, &Principal::probarPeso);
    connect(m_command2, &QPushButton::clicked, this, &Principal::reiniciarServidor);

    m_refresco.setSingleShot(true);
    connect(&m_refresco, &QTimer::timeout, this, &Principal::VolcarLineas);
}

void Principal::AgregarLinea(const QString& linea)
{
    // The day's file keeps every line whole; the box shows the start of very long ones.
    m_pendientes << Recortar(linea, kLargoMaximoLinea);
    if (!m_refresco.isActive()) {
        m_refresco.start(kIntervaloRefrescoMs);
    }
}

void Principal::VolcarLineas()
{
    m_refresco.stop();
    if (m_pendientes.isEmpty()) {
        return;
    }
    // One edit per batch, and no cursor moves: the box then lays out only the lines it shows, instead of every
    // line as it arrives; laying out each line costs more than serving the request that wrote it.
    QTextDocument* documento = m_txtLog->document();
    QString texto = m_pendientes.join(u'\n');
    texto.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    m_pendientes.clear();
    QTextCursor cursor(documento);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    if (!documento->isEmpty()) {
        texto.prepend(u'\n');
    }
    cursor.insertText(texto);

    const int sobrantes = documento->blockCount() - kLineasVisibles;
    if (sobrantes > 0) {
        cursor.movePosition(QTextCursor::Start);
        cursor.setPosition(documento->findBlockByNumber(sobrantes).position(), QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
    }
    cursor.endEditBlock();

    // Newest line in view, scrolled to its start: the time stamps stay visible.
    m_txtLog->verticalScrollBar()->setValue(m_txtLog->verticalScrollBar()->maximum());
    m_txtLog->horizontalScrollBar()->setValue(0);
}

void Principal::MostrarIconoBandeja()
{
    // Where nothing can be shown there is no notification area to wait for either.
    if (PlataformaSinPantalla()) {
        return;
    }
    if (m_bandeja == nullptr) {
        m_bandeja = new QSystemTrayIcon(windowIcon(), this);
        m_bandeja->setToolTip(QStringLiteral("Plugin Tornavo"));
        connect(m_bandeja, &QSystemTrayIcon::activated, this, &Principal::AlActivarIcono);
    }
    m_bandeja->show();
}

void Principal::QuitarIconoBandeja()
{
    if (m_bandeja != nullptr) {
        m_bandeja->hide();
    }
}

bool Principal::IconoEnBandeja() const
{
    return m_bandeja != nullptr && m_bandeja->isVisible();
}

void Principal::AlActivarIcono(QSystemTrayIcon::ActivationReason motivo)
{
    // Only a double-click brings the window back; single clicks, context clicks and hovering do nothing.
    if (motivo != QSystemTrayIcon::DoubleClick) {
        return;
    }
    show();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
    raise();
    activateWindow();
}

void Principal::changeEvent(QEvent* evento)
{
    QWidget::changeEvent(evento);
    // Hiding without a notification area would lose the window for good: then it stays minimised in the taskbar.
    if (evento->type() == QEvent::WindowStateChange && isMinimized() && m_hayBandeja()) {
        QTimer::singleShot(0, this, [this] {
            if (isMinimized()) {
                hide();
            }
        });
    }
}

void Principal::closeEvent(QCloseEvent* evento)
{
    if (m_decidirCierre && !m_decidirCierre()) {
        evento->ignore();
        return;
    }
    evento->accept();
}

void Principal::showEvent(QShowEvent* evento)
{
    QWidget::showEvent(evento);
    // For the tests that look at the window from outside, where its controls are no windows of their own (Windows
    // sees one): the screen's scale, then each control's place in the window, in device-independent pixels.
    const QString ruta = qEnvironmentVariable("TORNAVO_GEOMETRIA");
    if (ruta.isEmpty()) {
        return;
    }
    QString texto = QStringLiteral("escala %1\n").arg(devicePixelRatioF());
    for (const QWidget* control : {static_cast<const QWidget*>(this), static_cast<const QWidget*>(m_label1),
                                   static_cast<const QWidget*>(m_command1), static_cast<const QWidget*>(m_command2),
                                   static_cast<const QWidget*>(m_txtLog)}) {
        const QRect zona = control == this ? rect() : control->geometry();
        texto += QStringLiteral("%1 %2 %3 %4 %5\n")
                     .arg(control->objectName())
                     .arg(zona.x())
                     .arg(zona.y())
                     .arg(zona.width())
                     .arg(zona.height());
    }
    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly) || archivo.write(texto.toUtf8()) < 0 || !archivo.commit()) {
        EscribirLog(QStringLiteral("? No se pudo escribir la geometría de la ventana en ") + ruta);
    }
}
