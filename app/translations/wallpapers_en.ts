<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru">
<context>
    <name>TForm1</name>
    <message>
        <source>Скачать всё ;)</source>
        <translation>Download all ;)</translation>
    </message>
    <message>
        <source>Приостановить</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>От:</source>
        <translation>From:</translation>
    </message>
    <message>
        <source>До:</source>
        <translation>To:</translation>
    </message>
    <message>
        <source>разрешить</source>
        <translation>resume</translation>
    </message>
    <message>
        <source>Запретить</source>
        <translation>Stop</translation>
    </message>
</context>
<context>
    <name>TRunProgress</name>
    <message>
        <source>ru_RU</source>
        <comment>locale of the numbers in sizes</comment>
        <translation>en_US</translation>
    </message>
    <message>
        <source>%1 КБ</source>
        <translation>%1 KB</translation>
    </message>
    <message>
        <source>%1 МБ</source>
        <translation>%1 MB</translation>
    </message>
    <message>
        <source>повтор через %1 с</source>
        <translation>retry in %1 s</translation>
    </message>
    <message>
        <source>Сохранено: %1</source>
        <translation>Saved: %1</translation>
    </message>
    <message>
        <source>уже были: %1</source>
        <translation>already there: %1</translation>
    </message>
    <message>
        <source>без картинки: %1</source>
        <translation>without a picture: %1</translation>
    </message>
    <message>
        <source>%1 из %2</source>
        <comment>received of announced bytes</comment>
        <translation>%1 of %2</translation>
    </message>
    <message>
        <source>%1 из %2</source>
        <comment>numbers done of the run&apos;s</comment>
        <translation>%1 of %2</translation>
    </message>
    <message>
        <source>, %1 в пути</source>
        <translation>, %1 on the way</translation>
    </message>
</context>
<context>
    <name>Wallpaper</name>
    <message>
        <source>Картинка не стала обоями: отменено пользователем</source>
        <translation>The wallpaper was not set: cancelled by the user</translation>
    </message>
    <message>
        <source>Портал рабочего стола не смог сделать картинку обоями</source>
        <translation>The desktop portal could not set the wallpaper</translation>
    </message>
    <message>
        <source>Не удалось сделать картинку обоями: на сеансовой шине D-Bus нет портала рабочего стола (org.freedesktop.portal.Desktop)</source>
        <translation>Cannot set the wallpaper: there is no desktop portal (org.freedesktop.portal.Desktop) on the D-Bus session bus</translation>
    </message>
    <message>
        <source>Портал рабочего стола не отвечает; картинка не стала обоями</source>
        <translation>The desktop portal does not respond; the wallpaper was not set</translation>
    </message>
    <message>
        <source>Картинка не стала обоями: нет ответа за %1 с</source>
        <translation>The wallpaper was not set: no answer within %1 s</translation>
    </message>
    <message>
        <source>Не удалось открыть картинку &quot;%1&quot;: %2</source>
        <translation>Cannot open the picture &quot;%1&quot;: %2</translation>
    </message>
    <message>
        <source>Сделать обоями</source>
        <translation>Set as Wallpaper</translation>
    </message>
</context>
</TS>
