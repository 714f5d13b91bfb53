# Русские тексты узла-примера
currency     "руб."
currency_h   "коп."
sgrp_misc    "Прочие услуги"
services_in  "Услуги за %02u/%u"
payment      "Оплата"
vat_remove   "НДС в платеже"
serv_mailin  "Входящая почта, Мб"
