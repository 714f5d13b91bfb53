# Русские тексты узла-примера
currency     "руб."
currency_h   "коп."
sgrp_misc    "Прочие услуги"
services_in  "Услуги за"
serv_mailin  "Входящая почта, Мб"
