// The host settings file of a sample shop (WriteSettings in sample_shop.h).
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>

#include "platform/text.h"
#include "sample_shop.h"
#include "shop_files.h"

namespace sa::demo {

namespace fs = std::filesystem;

void WriteSettings(const std::string& path, bool livestock, int retentionDays) {
  // First and second item of each pair, by position. Flags and numbers sit
  // where the archiver checks their form; the rest is the kind of thing a
  // shop's settings hold. Position 1 is quoted because of its comma.
  static constexpr std::pair<const char*, const char*> kPairs[] = {
      {"3.2.114", "VersionConfig"},
      {"\"Carnicería Hnos. Martínez, S.L.\"", "NombreTienda"},
      {"Avda. de la Paz 14", "Direccion"},
      {"1", "UsarBalanzas"},
      {"0", "ModoDemo"},
      {"", "TrazabilidadVacuno"},
      {"True", "ImprimirTicket"},
      {"COM1", "PuertoSerie"},
      {"9600", "Velocidad"},
      {"C:\\Datos\\", "CarpetaDatos"},
      {"EUR", "Moneda"},
      {"2", "Decimales"},
      {"es-ES", "Idioma"},
      {"192.168.1.50", "IPServidor"},
      {"1", "EnviarPLUs"},
      {"1", "RecibirVentas"},
      {"0", "BorrarTotales"},
      {"True", "CierreDiario"},
      {"False", "AvisoCaducidad"},
      {"1", "Etiquetadora"},
      {"0", "CajonPortamonedas"},
      {"True", "VisorCliente"},
      {"0", "ControlStock"},
      {"False", "ModoTPV"},
      {"1", "LectorCodigos"},
      {"0", "TicketRegalo"},
      {"False", "Fidelizacion"},
      {"True", "Facturacion"},
      {"1", "CopiaSeguridad"},
      {"1", "SincronizarHora"},
      {"0", "ModoExperto"},
      {"True", "Trazabilidad"},
      {"Logroño", "Poblacion"},
      {"26001", "CodigoPostal"},
      {"1.5", "FactorRedondeo"},
      {"B26123456", "CIF"},
      {"941 25 36 47", "Telefono"},
      {"Gracias por su visita", "PieTicket1"},
      {"", "PieTicket2"},
      {"IVA incluido", "PieTicket3"},
      {"Epson TM-T20", "Impresora"},
      {"A4", "Papel"},
      {"60", "IntervaloEnvio"},
      {"5", "Reintentos"},
      {"admin", "UsuarioDefecto"},
      {"", "ValidarUsuarios"},
      {"Arial", "Fuente"},
      {"False", "PedirVendedor"},
      {"Etiqueta 58x40", "FormatoEtiqueta"},
      {"EAN13", "TipoCodigo"},
      {"22", "PrefijoPeso"},
      {"5", "DigitosPLU"},
      {"D:\\Copias", "CarpetaCopias"},
      {"Sección 1", "NombreSeccion1"},
      {"Sección 2", "NombreSeccion2"},
      {"Sección 3", "NombreSeccion3"},
      {"Sección 4", "NombreSeccion4"},
      {"Euro", "NombreMoneda"},
      {"€", "SimboloMoneda"},
      {"1000", "LimiteEfectivo"},
      {"30", "DiasCaducidadLote"},
      {"ES", "Pais"},
      {"La Rioja", "Provincia"},
      {"tienda@example.com", "Correo"},
      {"smtp.example.com", "ServidorCorreo"},
      {"25", "PuertoCorreo"},
      {"Lunes a sábado", "Horario"},
      {"09:00", "Apertura"},
      {"21:00", "Cierre"},
      {"4", "NumeroBalanzas"},
      {"Ticket", "Documento"},
      {"Factura simplificada", "TituloTicket"},
      {"F", "SerieFactura"},
      {"0", "ContadorFactura"},
      {"Normal", "Prioridad"},
      {"0", "ModoBalanza"},
      {"", "DiasHistorico"},
      {"COM2", "PuertoVisor"},
      {"Courier New", "FuenteTicket"},
      {"8", "TamanoFuente"},
      {"40", "AnchoTicket"},
      {"Cliente contado", "ClientePorDefecto"},
      {"1", "TarifaDefecto"},
      {"Ñ", "LetraSerie"},
      {"C:\\Programa\\Informes", "CarpetaInformes"},
      {"Diario", "Periodicidad"},
      {"23:30", "HoraCopia"},
      {"3", "CopiasGuardadas"},
      {"es", "IdiomaTeclado"},
      {"Mostrador", "Ubicacion"},
      {"José", "Encargado"},
      {"1", "ConfirmarBorrado"},
      {"3", "CopiasTicket"},
      {"0.5", "Margen"},
      {"Azul", "ColorFondo"},
      {"1024x768", "Resolucion"},
      {"Ibérica", "Plantilla"},
      {"0", "Depuracion"},
      {"FIN", "Marca"},
      {"", "Reservado"},
  };
  static_assert(std::size(kPairs) == 100);

  std::string text;
  for (size_t position = 0; position < std::size(kPairs); ++position) {
    std::string first = kPairs[position].first;
    if (position == 5) first = livestock ? "True" : "False";
    if (position == 76) first = std::to_string(retentionDays);
    text += first + "," + kPairs[position].second + "\r\n";
  }
  const fs::path p(path);
  if (p.has_parent_path()) MakeFolders(p.parent_path());
  // The host writes its settings in the Windows code page.
  WriteFile(p, platform::ToWindows1252(text));
}

}  // namespace sa::demo
