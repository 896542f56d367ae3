// Which slot a waiting connection takes, read off views of the slots: no socket, and the time is the row's.
#include "http/admision.h"
#include "http/servidor.h"

#include <QTest>

#include <vector>

using Ranuras = std::vector<VistaRanura>;
Q_DECLARE_METATYPE(Ranuras)
Q_DECLARE_METATYPE(ClaseEspera)

namespace {

using Estado = VistaRanura::Estado;
constexpr qint64 T = 1000000; // when the first connections took their slots

// Every slot: `estados` for the first ones, `resto` for the others ('L' free, 'O' gathering its request, as
// `ocupada`; 'P' the same, as `otra`; 'A' its request being handled).
Ranuras Vista(QByteArrayView estados, char resto, VistaRanura ocupada = {Estado::Ocupada, T, T, 0},
              VistaRanura otra = {})
{
    Ranuras ranuras(ServidorWeb::kRanuras);
    for (int i = 0; i < ServidorWeb::kRanuras; ++i) {
        switch (i < estados.size() ? estados[i] : resto) {
        case 'L':
            ranuras[i].estado = Estado::Libre;
            break;
        case 'O':
            ranuras[i] = ocupada;
            break;
        case 'P':
            ranuras[i] = otra;
            break;
        case 'A':
            ranuras[i].estado = Estado::Atendida;
            break;
        }
    }
    return ranuras;
}

} // namespace

class TstAdmision : public QObject
{
    Q_OBJECT

private slots:
    void slotTaken_data();
    void slotTaken();
};

void TstAdmision::slotTaken_data()
{
    QTest::addColumn<Ranuras>("ranuras");
    QTest::addColumn<ClaseEspera>("clase");
    QTest::addColumn<qint64>("ahora");
    QTest::addColumn<int>("elegida");
    const auto completa = ClaseEspera::Completa;
    const auto conDatos = ClaseEspera::ConDatos;
    const auto vacia = ClaseEspera::Vacia;

    QTest::newRow("first connection: slot 0") << Vista("", 'L') << vacia << T << 0;
    QTest::newRow("next concurrent one: slot 1") << Vista("O", 'L') << vacia << T << 1;
    QTest::newRow("after slot 0's answer: slot 0 again") << Vista("LO", 'L') << vacia << T << 0;

    // Every slot busy with a request being handled: none gives way, however long it takes.
    for (const ClaseEspera clase : {completa, conDatos, vacia}) {
        QTest::addRow("all handled, class %d", int(clase)) << Vista("", 'A') << clase << T + 60000 << -1;
    }

    // Quiet for a second: every slot gives way to connections that have sent nothing, not before.
    QTest::newRow("quiet 999 ms") << Vista("", 'O') << vacia << T + 999 << -1;
    QTest::newRow("quiet 1001 ms") << Vista("", 'O') << vacia << T + 1001 << 0;
    // Slots just taken by connections that sent nothing all the time they waited: a complete request takes one,
    // since they were quiet for long before; another idle one does not.
    const VistaRanura esperaron{Estado::Ocupada, T + 1001, T, 0};
    QTest::newRow("waited idle, complete request") << Vista("", 'O', esperaron) << completa << T + 1001 << 0;
    QTest::newRow("waited idle, idle connection") << Vista("", 'O', esperaron) << vacia << T + 1001 << -1;

    // Half a second on: every occupant is behind the schedule for a complete request, none yet for one still
    // arriving or idle.
    const VistaRanura goteo{Estado::Ocupada, T + 500, T, 120};
    const VistaRanura quieta{Estado::Ocupada, T, T, 0};
    for (const auto& [nombre, ocupada] : {std::pair{"dripping", goteo}, std::pair{"idle", quieta}}) {
        QTest::addRow("%s, complete request", nombre) << Vista("", 'O', ocupada) << completa << T + 500 << 0;
        QTest::addRow("%s, request under way", nombre) << Vista("", 'O', ocupada) << conDatos << T + 500 << -1;
        QTest::addRow("%s, idle connection", nombre) << Vista("", 'O', ocupada) << vacia << T + 500 << -1;
    }
    // The one furthest behind: a second's worth of bytes is a second of credit.
    QTest::newRow("furthest behind") << Vista("PO", 'A', quieta, {Estado::Ocupada, T, T, kRitmoMinimo}) << completa
                                     << T + 1200 << 1;
}

void TstAdmision::slotTaken()
{
    QFETCH(Ranuras, ranuras);
    QFETCH(ClaseEspera, clase);
    QFETCH(qint64, ahora);
    QFETCH(int, elegida);
    QCOMPARE(ElegirRanura(ranuras, clase, ahora), elegida);
}

QTEST_GUILESS_MAIN(TstAdmision)
#include "tst_admision.moc"
