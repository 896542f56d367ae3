#include "printing/spooler.h"

#include "printing/lista_impresoras.h"

#include <QPrinterInfo>

#include <windows.h>
#include <winspool.h>

#include <vector>

namespace {

std::wstring Ancho(const QString& texto)
{
    return texto.toStdWString();
}

QString ErrorDeWindows(DWORD codigo)
{
    wchar_t* texto = nullptr;
    const DWORD largo =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, codigo, 0, reinterpret_cast<wchar_t*>(&texto), 0, nullptr);
    QString mensaje = largo > 0 ? QString::fromWCharArray(texto, static_cast<int>(largo)).trimmed() : QString();
    LocalFree(texto);
    return QStringLiteral("%1 (código %2)").arg(mensaje.isEmpty() ? QStringLiteral("Error") : mensaje).arg(codigo);
}

// An open printer handle, closed with its owner.
class Abierta final
{
public:
    explicit Abierta(const QString& impresora)
    {
        std::wstring nombre = Ancho(impresora);
        if (!OpenPrinterW(nombre.data(), &m_h, nullptr)) {
            m_error = GetLastError();
            m_h = nullptr;
        }
    }
    ~Abierta()
    {
        if (m_h != nullptr) {
            ClosePrinter(m_h);
        }
    }
    Abierta(const Abierta&) = delete;
    Abierta& operator=(const Abierta&) = delete;

    HANDLE h() const { return m_h; }
    DWORD Error() const { return m_error; }
    HANDLE Soltar()
    {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }

private:
    HANDLE m_h = nullptr;
    DWORD m_error = 0;
};

// The jobs of a printer, or nothing when the spooler cannot list them.
std::optional<std::vector<BYTE>> Trabajos(HANDLE h, DWORD& cuantos)
{
    DWORD necesarios = 0;
    cuantos = 0;
    EnumJobsW(h, 0, 0xFFFF, 1, nullptr, 0, &necesarios, &cuantos);
    std::vector<BYTE> datos(std::max<DWORD>(necesarios, 1));
    if (!EnumJobsW(h, 0, 0xFFFF, 1, datos.data(), static_cast<DWORD>(datos.size()), &necesarios, &cuantos)) {
        return std::nullopt;
    }
    return datos;
}

QString MotivosDeImpresora(DWORD estado)
{
    static const struct
    {
        DWORD bit;
        const char* nombre;
    } motivos[] = {
        {PRINTER_STATUS_PAUSED, "paused"},
        {PRINTER_STATUS_ERROR, "error"},
        {PRINTER_STATUS_OFFLINE, "offline"},
        {PRINTER_STATUS_PAPER_OUT, "media-empty"},
        {PRINTER_STATUS_PAPER_JAM, "media-jam"},
        {PRINTER_STATUS_PAPER_PROBLEM, "media-needed"},
        {PRINTER_STATUS_DOOR_OPEN, "door-open"},
        {PRINTER_STATUS_NO_TONER, "toner-empty"},
        {PRINTER_STATUS_TONER_LOW, "toner-low"},
        {PRINTER_STATUS_OUTPUT_BIN_FULL, "output-area-full"},
        {PRINTER_STATUS_NOT_AVAILABLE, "offline"},
        {PRINTER_STATUS_USER_INTERVENTION, "user-intervention"},
        {PRINTER_STATUS_PENDING_DELETION, "deleting"},
    };
    QStringList nombres;
    for (const auto& m : motivos) {
        if ((estado & m.bit) != 0 && !nombres.contains(QLatin1String(m.nombre))) {
            nombres << QLatin1String(m.nombre);
        }
    }
    return nombres.join(QStringLiteral(", "));
}

InfoTrabajo InfoDe(const JOB_INFO_1W& j)
{
    InfoTrabajo info;
    const DWORD s = j.Status;
    if ((s & (JOB_STATUS_DELETED | JOB_STATUS_DELETING)) != 0) {
        info.estado = EstadoTrabajo::Cancelado;
    } else if ((s & (JOB_STATUS_PRINTED | JOB_STATUS_COMPLETE)) != 0) {
        info.estado = EstadoTrabajo::Terminado;
    } else if ((s & JOB_STATUS_BLOCKED_DEVQ) != 0) {
        info.estado = EstadoTrabajo::Fallido;
    } else if ((s & (JOB_STATUS_PRINTING | JOB_STATUS_SPOOLING)) != 0 &&
               (s & (JOB_STATUS_ERROR | JOB_STATUS_OFFLINE | JOB_STATUS_PAPEROUT | JOB_STATUS_PAUSED)) == 0) {
        info.estado = EstadoTrabajo::Imprimiendo;
    } else {
        info.estado = EstadoTrabajo::EnCola;
    }
    if (j.pStatus != nullptr && *j.pStatus != 0) {
        info.detalle = QString::fromWCharArray(j.pStatus);
    } else {
        QStringList motivos;
        if ((s & JOB_STATUS_ERROR) != 0) {
            motivos << QStringLiteral("error");
        }
        if ((s & JOB_STATUS_OFFLINE) != 0) {
            motivos << QStringLiteral("offline");
        }
        if ((s & JOB_STATUS_PAPEROUT) != 0) {
            motivos << QStringLiteral("media-empty");
        }
        if ((s & JOB_STATUS_PAUSED) != 0) {
            motivos << QStringLiteral("paused");
        }
        if ((s & JOB_STATUS_USER_INTERVENTION) != 0) {
            motivos << QStringLiteral("user-intervention");
        }
        if ((s & JOB_STATUS_BLOCKED_DEVQ) != 0) {
            motivos << QStringLiteral("blocked");
        }
        info.detalle = motivos.join(QStringLiteral(", "));
    }
    return info;
}

class EnvioWindows final : public EnvioDirecto
{
public:
    EnvioWindows(HANDLE h, DWORD trabajo)
        : m_h(h)
        , m_trabajo(trabajo)
    {
    }
    ~EnvioWindows() override
    {
        if (!m_terminado) {
            SetJobW(m_h, m_trabajo, 0, nullptr, JOB_CONTROL_DELETE);
            EndPagePrinter(m_h);
            EndDocPrinter(m_h);
        }
        ClosePrinter(m_h);
    }

    bool Escribir(QByteArrayView trozo, QString& motivo) override
    {
        // WritePrinter may take fewer bytes than given: it is called again until every byte is taken.
        const char* p = trozo.data();
        qsizetype quedan = trozo.size();
        while (quedan > 0) {
            DWORD escritos = 0;
            if (!WritePrinter(m_h, const_cast<char*>(p), static_cast<DWORD>(quedan), &escritos) || escritos == 0) {
                motivo = ErrorDeWindows(GetLastError());
                return false;
            }
            p += escritos;
            quedan -= escritos;
        }
        return true;
    }

    void Terminar(AlTerminar alTerminar) override
    {
        m_terminado = true;
        // The local spooler has the bytes already: closing the document waits for no printer.
        if (!EndPagePrinter(m_h) || !EndDocPrinter(m_h)) {
            alTerminar(QString(), ErrorDeWindows(GetLastError()));
            return;
        }
        alTerminar(QString::number(m_trabajo), QString());
    }

private:
    HANDLE m_h;
    DWORD m_trabajo;
    bool m_terminado = false;
};

// The Windows spooler is a local service whose calls return at once: each answer is given before the call returns.
class SpoolerWindows final : public Spooler
{
public:
    void Predeterminada(AlSaberPredeterminada alSaber) override { alSaber(LeerPredeterminada()); }
    void Detalle(const QString& impresora, AlSaberDetalle alSaber) override { alSaber(LeerDetalle(impresora)); }
    void Consultar(const QString& impresora, const QString& id, AlSaberTrabajo alSaber) override
    {
        alSaber(LeerTrabajo(impresora, id));
    }

    static QString LeerPredeterminada()
    {
        DWORD largo = 0;
        GetDefaultPrinterW(nullptr, &largo);
        if (largo == 0) {
            return QString();
        }
        std::vector<wchar_t> nombre(largo);
        if (!GetDefaultPrinterW(nombre.data(), &largo)) {
            return QString();
        }
        return QString::fromWCharArray(nombre.data());
    }

    static std::optional<DetalleImpresora> LeerDetalle(const QString& impresora)
    {
        Abierta p(impresora);
        if (p.h() == nullptr) {
            return std::nullopt;
        }
        DWORD necesarios = 0;
        GetPrinterW(p.h(), 2, nullptr, 0, &necesarios);
        std::vector<BYTE> datos(std::max<DWORD>(necesarios, sizeof(PRINTER_INFO_2W)));
        if (!GetPrinterW(p.h(), 2, datos.data(), static_cast<DWORD>(datos.size()), &necesarios)) {
            return std::nullopt;
        }
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(datos.data());
        DetalleImpresora d;
        d.nombre = impresora;
        const DWORD detenida = PRINTER_STATUS_PAUSED | PRINTER_STATUS_ERROR | PRINTER_STATUS_OFFLINE |
                               PRINTER_STATUS_PAPER_OUT | PRINTER_STATUS_PAPER_JAM | PRINTER_STATUS_DOOR_OPEN |
                               PRINTER_STATUS_NOT_AVAILABLE | PRINTER_STATUS_NO_TONER |
                               PRINTER_STATUS_USER_INTERVENTION | PRINTER_STATUS_PAPER_PROBLEM |
                               PRINTER_STATUS_OUTPUT_BIN_FULL;
        const bool fueraDeLinea = (info->Attributes & PRINTER_ATTRIBUTE_WORK_OFFLINE) != 0;
        if ((info->Status & detenida) != 0 || fueraDeLinea) {
            d.estado = QStringLiteral("detenida");
        } else if ((info->Status & (PRINTER_STATUS_PRINTING | PRINTER_STATUS_PROCESSING | PRINTER_STATUS_BUSY |
                                    PRINTER_STATUS_WARMING_UP)) != 0) {
            d.estado = QStringLiteral("imprimiendo");
        } else {
            d.estado = QStringLiteral("lista");
        }
        d.motivo = MotivosDeImpresora(info->Status | (fueraDeLinea ? PRINTER_STATUS_OFFLINE : 0));

        const std::wstring nombre = Ancho(impresora);
        const wchar_t* puerto = info->pPortName;
        d.papeles = Nombres(nombre.c_str(), puerto, DC_PAPERNAMES, 64);
        d.bandejas = Nombres(nombre.c_str(), puerto, DC_BINNAMES, 24);
        d.duplex = DeviceCapabilitiesW(nombre.c_str(), puerto, DC_DUPLEX, nullptr, nullptr) == 1;
        d.color = DeviceCapabilitiesW(nombre.c_str(), puerto, DC_COLORDEVICE, nullptr, nullptr) == 1;
        return d;
    }

    std::unique_ptr<EnvioDirecto> AbrirDirecto(const QString& impresora, const QString& nombreTrabajo,
                                               QString& motivo) override
    {
        Abierta p(impresora);
        if (p.h() == nullptr) {
            motivo = ErrorDeWindows(p.Error());
            return nullptr;
        }
        std::wstring documento = Ancho(nombreTrabajo);
        std::wstring tipo = L"RAW";
        DOC_INFO_1W doc{documento.data(), nullptr, tipo.data()};
        const DWORD trabajo = StartDocPrinterW(p.h(), 1, reinterpret_cast<BYTE*>(&doc));
        if (trabajo == 0) {
            motivo = ErrorDeWindows(GetLastError());
            return nullptr;
        }
        if (!StartPagePrinter(p.h())) {
            motivo = ErrorDeWindows(GetLastError());
            EndDocPrinter(p.h());
            return nullptr;
        }
        return std::make_unique<EnvioWindows>(p.Soltar(), trabajo);
    }

    static InfoTrabajo LeerTrabajo(const QString& impresora, const QString& id)
    {
        Abierta p(impresora);
        if (p.h() == nullptr) {
            return {};
        }
        const DWORD trabajo = id.toULong();
        DWORD necesarios = 0;
        GetJobW(p.h(), trabajo, 1, nullptr, 0, &necesarios);
        if (necesarios > 0) {
            std::vector<BYTE> datos(necesarios);
            if (GetJobW(p.h(), trabajo, 1, datos.data(), necesarios, &necesarios)) {
                return InfoDe(*reinterpret_cast<const JOB_INFO_1W*>(datos.data()));
            }
        }
        // Not found: gone from a queue that can be listed means printed (Windows keeps no finished jobs unless
        // told to); a spooler that cannot list its jobs cannot tell.
        DWORD cuantos = 0;
        const auto lista = Trabajos(p.h(), cuantos);
        if (!lista) {
            return {};
        }
        const auto* jobs = reinterpret_cast<const JOB_INFO_1W*>(lista->data());
        for (DWORD i = 0; i < cuantos; ++i) {
            if (jobs[i].JobId == trabajo) {
                return InfoDe(jobs[i]);
            }
        }
        return {EstadoTrabajo::Terminado, QString()};
    }

    QString BuscarPorDocumento(const QString& impresora, const QString& documento) const override
    {
        Abierta p(impresora);
        DWORD cuantos = 0;
        const auto lista = p.h() != nullptr ? Trabajos(p.h(), cuantos) : std::nullopt;
        if (!lista) {
            return QString();
        }
        const auto* jobs = reinterpret_cast<const JOB_INFO_1W*>(lista->data());
        for (DWORD i = 0; i < cuantos; ++i) {
            if (jobs[i].pDocument != nullptr &&
                QString::fromWCharArray(jobs[i].pDocument).contains(documento, Qt::CaseInsensitive)) {
                return QString::number(jobs[i].JobId);
            }
        }
        return QString();
    }

private:
    // DeviceCapabilities' fixed-width names (64 characters a paper, 24 a tray), trailing NULs dropped.
    static QStringList Nombres(const wchar_t* impresora, const wchar_t* puerto, WORD capacidad, int ancho)
    {
        const int cuantos = DeviceCapabilitiesW(impresora, puerto, capacidad, nullptr, nullptr);
        QStringList nombres;
        if (cuantos <= 0) {
            return nombres;
        }
        std::vector<wchar_t> datos(static_cast<size_t>(cuantos) * ancho + 1, 0);
        if (DeviceCapabilitiesW(impresora, puerto, capacidad, datos.data(), nullptr) <= 0) {
            return nombres;
        }
        for (int i = 0; i < cuantos; ++i) {
            const wchar_t* n = datos.data() + static_cast<size_t>(i) * ancho;
            const QString nombre = QString::fromWCharArray(n, static_cast<int>(wcsnlen(n, ancho))).trimmed();
            if (!nombre.isEmpty() && !nombres.contains(nombre)) {
                nombres << nombre;
            }
        }
        return nombres;
    }
};

} // namespace

namespace {

class ListaQPrinterInfo final : public ListaImpresoras
{
public:
    QStringList Nombres() const override { return QPrinterInfo::availablePrinterNames(); }
};

} // namespace

std::unique_ptr<ListaImpresoras> CrearListaImpresorasDelSistema()
{
    return std::make_unique<ListaQPrinterInfo>();
}

std::unique_ptr<Spooler> CrearSpoolerDelSistema()
{
    return std::make_unique<SpoolerWindows>();
}
