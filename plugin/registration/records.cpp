// The catalog, company, licence and author records of the library.
#include "registration/records.h"

namespace Mrv {
namespace {

const static_registrant<company_registrant> sonara_company =
    company_registrant("Sonara")
        .language(1033)
        .name("Sonara Lab")
        .description("Sonara Lab\n"
                     "Research and development of interactive systems that listen, see and learn.\n"
                     "Web: sonara-lab.example\n"
                     "Mail: info@sonara-lab.example")
        .language(1040)
        .name("Sonara Lab")
        .description("Sonara Lab\n"
                     "Ricerca e sviluppo di sistemi interattivi che ascoltano, vedono e imparano.\n"
                     "Web: sonara-lab.example\n"
                     "Posta: info@sonara-lab.example");

const static_registrant<licence_registrant> free_licence =
    licence_registrant("FreeLicense")
        .language(1033)
        .name("Free License")
        .description("Free for any use, including commercial use.")
        .language(1040)
        .name("Licenza libera")
        .description("Libero per qualsiasi uso, anche commerciale.");

const static_registrant<author_registrant> halvard_author =
    author_registrant("halvard")
        .language(1033)
        .name("Halvard")
        .description("Software engineer\nMail: halvard@sonara-lab.example")
        .language(1040)
        .name("Halvard")
        .description("Ingegnere del software\nPosta: halvard@sonara-lab.example");

const static_registrant<catalog_class_registrant> catalog =
    catalog_class_registrant(catalog_class_id)
        .language(1033)
        .name("Machine Learning")
        .description("This catalog includes blocks for machine learning")
        .bitmap(101)
        .language(1040)
        .name("Machine Learning")
        .description("Questo catalogo include blocchi per l'apprendimento automatico")
        .bitmap(101);

}  // namespace
}  // namespace Mrv
