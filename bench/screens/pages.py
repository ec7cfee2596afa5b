"""The web pages of the screen set: each page's HTML and the text a reader takes from it, in reading order.

Every page is built from the same lists that give its truth, so the two cannot drift apart.
"""

import html

E = html.escape


def style(dark, font="'DejaVu Sans', sans-serif", size=14):
    bg, fg, muted, line, panel, accent = (
        ("#1b1d21", "#e6e6e6", "#9aa0a8", "#33363c", "#24272c", "#7fb4ff")
        if dark
        else ("#ffffff", "#1d1f23", "#5f6670", "#dde1e6", "#f5f6f8", "#1a5fd0")
    )
    return f"""
    * {{ box-sizing: border-box; }}
    body {{ margin: 0; background: {bg}; color: {fg}; font-family: {font}; font-size: {size}px; line-height: 1.45; }}
    a {{ color: {accent}; text-decoration: none; }}
    .muted {{ color: {muted}; }}
    .panel {{ background: {panel}; }}
    .rule {{ border-color: {line} !important; }}
    code, pre {{ font-family: 'JetBrains Mono', 'DejaVu Sans Mono', monospace; font-size: 13px; }}
    pre {{ background: {panel}; padding: 10px 12px; border-radius: 6px; }}
    button {{ font: inherit; color: {fg}; background: {panel}; border: 1px solid {line}; border-radius: 6px; padding: 5px 12px; }}
    input {{ font: inherit; color: {muted}; background: {panel}; border: 1px solid {line}; border-radius: 6px; padding: 4px 8px; }}
    .switch {{ display: inline-block; width: 34px; height: 18px; border-radius: 9px; background: {accent}; }}
    """


def doc(title, dark, body, font="'DejaVu Sans', sans-serif", size=14, lang="en", direction="ltr", extra=""):
    return (
        f"<!doctype html><html lang='{lang}' dir='{direction}' translate='no'><head><meta charset='utf-8'>"
        f"<meta name='google' content='notranslate'><title>{E(title)}</title>"
        f"<style>{style(dark, font, size)}{extra}</style></head><body>{body}</body></html>"
    )


def docs_page(dark):
    top = ["Loomwork", "Guides", "Reference", "Releases", "Community"]
    search = "Search the docs"
    nav = ["Getting started", "Installing", "First project", "Configuration", "Plugins", "Deploying",
           "Troubleshooting", "Upgrading from 2.x"]
    title = "Configuration"
    paras = [
        "Loomwork reads its settings from a file named loom.toml in the root of your project. Every key has a "
        "default, so an empty file is a valid configuration.",
        "Settings are grouped into tables. The build table controls where output goes and which targets are "
        "made; the serve table controls the development server.",
    ]
    code = ["[build]", "output = \"dist\"", "targets = [\"web\", \"docs\"]", "", "[serve]", "port = 8040"]
    paras2 = [
        "When a key appears twice, the last value wins and a warning is printed. Unknown keys are reported "
        "but do not stop the build.",
    ]
    onpage = ["On this page", "The build table", "The serve table", "Environment overrides", "Validation"]
    body = f"""
    <div class='rule' style='display:flex;align-items:center;gap:28px;padding:12px 24px;border-bottom:1px solid'>
      <b style='font-size:17px'>{E(top[0])}</b>{''.join(f"<a>{E(t)}</a>" for t in top[1:])}
      <span style='flex:1'></span><input value='{E(search)}' size='22'></div>
    <div style='display:flex'>
      <div class='panel' style='width:220px;padding:18px 20px;min-height:700px'>
        {''.join(f"<div style='padding:5px 0'>{E(n)}</div>" for n in nav)}</div>
      <div style='flex:1;padding:18px 40px;max-width:680px'>
        <h1 style='font-size:28px;margin:6px 0 14px'>{E(title)}</h1>
        {''.join(f"<p>{E(p)}</p>" for p in paras)}
        <pre>{E(chr(10).join(code))}</pre>
        {''.join(f"<p>{E(p)}</p>" for p in paras2)}</div>
      <div style='width:220px;padding:22px 20px'>
        <div class='muted' style='font-size:12px;text-transform:uppercase;margin-bottom:6px'>{E(onpage[0])}</div>
        {''.join(f"<div style='padding:4px 0'><a>{E(o)}</a></div>" for o in onpage[1:])}</div>
    </div>"""
    truth = [" ".join(top[:]) + " " + search, "\n".join(nav), title, *paras, "\n".join(c for c in code if c), *paras2,
             onpage[0].upper() + "\n" + "\n".join(onpage[1:])]
    return doc("Docs", dark, body), "\n\n".join(truth)


def settings_page(dark, lang="en"):
    if lang == "fr":
        side = ["Général", "Apparence", "Notifications", "Confidentialité", "Comptes", "À propos"]
        heading = "Notifications"
        sections = [
            ("Alertes", [("Afficher les alertes", "Une bannière apparaît en haut de l'écran pendant cinq secondes", None),
                         ("Son des alertes", "Joue un court signal quand un message arrive", "Choisir"),
                         ("Ne pas déranger", "Aucune alerte entre vingt-deux heures et sept heures", None)]),
            ("Résumé", [("Résumé quotidien", "Un courriel récapitulatif chaque matin à huit heures", "Modifier"),
                        ("Langue du résumé", "Le résumé est écrit dans la langue de votre compte", "Français")]),
        ]
        footer = ["Rétablir les valeurs", "Annuler", "Enregistrer"]
    else:
        side = ["General", "Appearance", "Notifications", "Privacy", "Accounts", "Storage", "About"]
        heading = "Privacy"
        sections = [
            ("Sharing", [("Share usage statistics", "Anonymous counts of which features are used, sent once a week", None),
                         ("Crash reports", "Send a report after the app closes unexpectedly", None),
                         ("Connected devices", "Two devices can read your shared folders", "Manage")]),
            ("History", [("Keep history for", "Older entries are removed when the app starts", "30 days"),
                         ("Clear history", "Removes every entry and every cached preview", "Clear now")]),
        ]
        footer = ["Restore defaults", "Cancel", "Save"]
    rows_html, truth_rows = "", []
    for name, rows in sections:
        rows_html += (f"<div class='muted' style='font-size:12px;letter-spacing:1px;text-transform:uppercase;"
                      f"margin:22px 0 8px'>{E(name)}</div>")
        truth_rows.append(name.upper())
        for label, desc, action in rows:
            right = f"<button>{E(action)}</button>" if action else "<span class='switch'></span>"
            rows_html += (f"<div class='rule' style='display:flex;align-items:center;padding:10px 0;border-bottom:1px solid'>"
                          f"<div style='flex:1'><div>{E(label)}</div><div class='muted' style='font-size:12px'>{E(desc)}</div>"
                          f"</div>{right}</div>")
            truth_rows.append("\n".join([label, desc] + ([action] if action else [])))
    body = f"""
    <div style='display:flex;min-height:100vh'>
      <div class='panel' style='width:210px;padding:20px 14px'>
        {''.join(f"<div style='padding:7px 10px'>{E(s)}</div>" for s in side)}</div>
      <div style='flex:1;padding:20px 36px;display:flex;flex-direction:column'>
        <div style='font-size:22px;font-weight:600'>{E(heading)}</div>
        {rows_html}
        <div style='flex:1'></div>
        <div style='display:flex;gap:10px;padding-top:18px'><button>{E(footer[0])}</button><span style='flex:1'></span>
          <button>{E(footer[1])}</button><button>{E(footer[2])}</button></div></div></div>"""
    truth = ["\n".join(side), heading, *truth_rows, " ".join(footer)]
    return doc("Settings", dark, body, font="Inter, sans-serif", lang=lang), "\n\n".join(truth)


def mail_page(dark):
    folders = ["Inbox 12", "Starred", "Sent", "Drafts 2", "Archive", "Spam", "Trash"]
    mails = [
        ("Mara Lindqvist", "09:41", "Quarterly numbers", "The figures for the third quarter are in the shared folder"),
        ("Build server", "08:15", "Nightly build failed", "Step 4 of 7 stopped with exit code 2 after 11 minutes"),
        ("Tomas Eberle", "Yesterday", "Lunch on Thursday?", "There is a new place near the station that opens at noon"),
        ("Office team", "Yesterday", "Heating maintenance", "The second floor will be cold on Monday morning"),
        ("Priya Raman", "Dec 3", "Slides for the review", "I moved the timeline to the end and cut two pages"),
        ("Calendar", "Dec 2", "Invitation: Planning", "Tuesday at 14:00 in room Birch, one hour"),
    ]
    rows = "".join(
        f"<div class='rule' style='padding:10px 18px;border-bottom:1px solid'>"
        f"<div style='display:flex'><b style='flex:1'>{E(s)}</b><span class='muted'>{E(d)}</span></div>"
        f"<div>{E(t)}</div><div class='muted'>{E(p)}</div></div>" for s, d, t, p in mails)
    body = f"""
    <div style='display:flex;min-height:100vh'>
      <div class='panel' style='width:190px;padding:16px'><button style='margin-bottom:14px'>Compose</button>
        {''.join(f"<div style='padding:5px 4px'>{E(f)}</div>" for f in folders)}</div>
      <div style='flex:1'>{rows}</div></div>"""
    truth = ["Compose\n" + "\n".join(folders)] + [f"{s} {d}\n{t}\n{p}" for s, d, t, p in mails]
    return doc("Mail", dark, body, font="'Nimbus Sans', sans-serif"), "\n\n".join(truth)


def forum_page(dark):
    title = "Backups stop after the disk is renamed"
    crumbs = "Forum › Storage › Backups"
    posts = [
        ("wrenfield", "Dec 4, 10:12",
         ["After I renamed my external disk the nightly backup stopped running. The log only says that the "
          "target could not be found.", "Is there a way to point the job at the new name without starting over?"]),
        ("ostrander", "Dec 4, 11:03",
         ["Open the job's settings and choose the disk again under Destination. The history is kept because it "
          "is stored on the disk itself."]),
        ("wrenfield", "Dec 4, 11:40", ["That worked, thank you. The next run took only four minutes."]),
    ]
    body = f"<div style='max-width:860px;margin:0 auto;padding:18px 24px'><div class='muted'>{E(crumbs)}</div>"
    body += f"<h2 style='margin:8px 0 16px'>{E(title)}</h2>"
    truth = [crumbs, title]
    for who, when, paras in posts:
        body += (f"<div class='rule' style='display:flex;gap:20px;padding:14px 0;border-top:1px solid'>"
                 f"<div style='width:120px'><b>{E(who)}</b><div class='muted' style='font-size:12px'>{E(when)}</div></div>"
                 f"<div style='flex:1'>{''.join(f'<p style=margin-top:0>{E(p)}</p>' for p in paras)}</div></div>")
        truth.append(f"{who}\n{when}")
        truth.append("\n".join(paras))
    body += "<div style='display:flex;gap:10px'><button>Reply</button><button>Follow</button></div></div>"
    truth.append("Reply Follow")
    return doc("Forum", dark, body), "\n\n".join(truth)


def report_page(dark):
    title = "Regional sales, fourth quarter"
    note = "All amounts in thousands. Figures for December are provisional."
    head = ["Region", "October", "November", "December", "Total", "Change"]
    data = [
        ["North", "412", "398", "455", "1265", "+4.1%"],
        ["East", "287", "301", "322", "910", "+6.8%"],
        ["South", "530", "512", "498", "1540", "-2.3%"],
        ["West", "199", "215", "241", "655", "+9.0%"],
        ["Central", "344", "351", "339", "1034", "+0.4%"],
        ["Online", "621", "688", "790", "2099", "+12.5%"],
        ["All regions", "2393", "2465", "2645", "7503", "+5.2%"],
    ]
    table = "<table style='border-collapse:collapse;margin-top:10px'>"
    table += "<tr>" + "".join(f"<th class='rule' style='text-align:left;padding:6px 18px 6px 0;border-bottom:2px solid'>{E(h)}</th>" for h in head) + "</tr>"
    for row in data:
        table += "<tr>" + "".join(f"<td class='rule' style='padding:6px 18px 6px 0;border-bottom:1px solid'>{E(c)}</td>" for c in row) + "</tr>"
    table += "</table>"
    body = f"<div style='padding:20px 30px'><h2 style='margin:0 0 6px'>{E(title)}</h2><div class='muted'>{E(note)}</div>{table}</div>"
    truth = [title, note, "\n".join(" ".join(r) for r in [head] + data)]
    return doc("Report", dark, body, font="Inter, sans-serif"), "\n\n".join(truth)


def rtl_page(dark):
    links = ["Home", "Timetable", "Tickets", "Contact"]
    title = "Winter timetable"
    paras = ["From the first of December the early ferry leaves at six thirty instead of six",
             "On public holidays the Sunday timetable applies and the last crossing is at eight in the evening",
             "Bicycles travel free of charge on every crossing before nine in the morning"]
    body = f"""
    <div class='rule' style='display:flex;gap:26px;padding:12px 28px;border-bottom:1px solid'>
      {''.join(f"<a>{E(l)}</a>" for l in links)}</div>
    <div style='padding:18px 28px;max-width:820px'><h1 style='font-size:26px'>{E(title)}</h1>
      {''.join(f"<p>{E(p)}</p>" for p in paras)}</div>"""
    # Laid out right to left: the first link stands at the right edge, so the row reads last link first.
    truth = [" ".join(reversed(links)), title, *paras]
    return doc("RTL", dark, body, lang="en", direction="rtl"), "\n\n".join(truth)


def german_help(dark):
    crumbs = "Hilfe › Konto › Passwort"
    title = "Passwort ändern"
    intro = ("Ein sicheres Passwort schützt Ihre Daten. Ändern Sie es regelmäßig und verwenden Sie es für keinen "
             "anderen Dienst.")
    steps = ["Öffnen Sie die Einstellungen und wählen Sie „Konto“.", "Klicken Sie auf „Passwort ändern“.",
             "Geben Sie das bisherige und zweimal das neue Passwort ein.", "Bestätigen Sie mit „Speichern“."]
    outro = "Nach der Änderung werden Sie auf allen anderen Geräten abgemeldet."
    related = ["Verwandte Artikel", "Zwei-Faktor-Anmeldung einrichten", "Konto löschen", "E-Mail-Adresse ändern",
               "Gesperrtes Konto entsperren"]
    body = f"""
    <div style='display:flex;gap:40px;padding:20px 34px'>
      <div style='flex:1;max-width:620px'><div class='muted'>{E(crumbs)}</div>
        <h1 style='font-size:26px'>{E(title)}</h1><p>{E(intro)}</p>
        <ol>{''.join(f"<li style='margin:4px 0'>{E(s)}</li>" for s in steps)}</ol><p>{E(outro)}</p></div>
      <div class='panel' style='width:260px;padding:16px 18px;align-self:flex-start'>
        <b>{E(related[0])}</b>{''.join(f"<div style='padding:5px 0'><a>{E(r)}</a></div>" for r in related[1:])}</div>
    </div>"""
    truth = [crumbs, title, intro, "\n".join(f"{i + 1}. {s}" for i, s in enumerate(steps)), outro, "\n".join(related)]
    return doc("Hilfe", dark, body, lang="de"), "\n\n".join(truth)


def market_page(dark):
    # A site with a bar of links, a banner, a list of sections at the side and a table of prices.
    links = ["Riverside Market", "Stalls", "Map", "News", "Sign in"]
    banner = "Winter market on the old square"
    lead = "Every Saturday from eight until two, rain or shine."
    side_title = "On this site"
    side = ["Market days", "Old bridges", "Opening hours", "Parking", "Contact"]
    heading = "Prices this week"
    head = ["Item", "Stall", "Unit", "Price"]
    rows = [
        ["Apples, Cox", "Hillside Farm", "1 kg", "€2.40"],
        ["Pears", "Hillside Farm", "1 kg", "€2.90"],
        ["Sourdough loaf", "Mill Bakery", "800 g", "€4.50"],
        ["Goat cheese", "Brook Dairy", "200 g", "€5.20"],
        ["Free-range eggs", "Brook Dairy", "box of 6", "€3.10"],
        ["Honey, heather", "Bee Corner", "340 g jar", "€7.80"],
        ["Smoked trout", "Lakeside", "2 fillets", "€8.60"],
    ]
    note = "Prices are set by the stalls and may change during the day."
    table = "<table style='border-collapse:collapse;margin-top:8px'>"
    table += "<tr>" + "".join(
        f"<th class='rule' style='text-align:{'right' if i == 3 else 'left'};padding:6px 28px 6px 0;"
        f"border-bottom:2px solid'>{E(h)}</th>" for i, h in enumerate(head)) + "</tr>"
    for row in rows:
        table += "<tr>" + "".join(
            f"<td class='rule' style='text-align:{'right' if i == 3 else 'left'};padding:6px 28px 6px 0;"
            f"border-bottom:1px solid'>{E(c)}</td>" for i, c in enumerate(row)) + "</tr>"
    table += "</table>"
    body = f"""
    <div class='rule' style='display:flex;align-items:center;gap:30px;padding:12px 26px;border-bottom:1px solid'>
      <b style='font-size:17px'>{E(links[0])}</b>{''.join(f"<a>{E(t)}</a>" for t in links[1:-1])}
      <span style='flex:1'></span><button>{E(links[-1])}</button></div>
    <div class='panel' style='padding:22px 26px 18px 260px'><div style='font-size:26px;font-weight:600'>{E(banner)}</div>
      <div class='muted' style='margin-top:4px'>{E(lead)}</div></div>
    <div style='display:flex'>
      <div style='width:230px;padding:18px 26px'><div class='muted' style='font-size:12px;margin-bottom:6px'>{E(side_title)}</div>
        <ul style='margin:0;padding-left:18px'>{''.join(f"<li style='padding:4px 0'><a>{E(s)}</a></li>" for s in side)}</ul></div>
      <div style='flex:1;padding:18px 10px'><h2 style='margin:0 0 4px;font-size:20px'>{E(heading)}</h2>{table}
        <p class='muted'>{E(note)}</p></div></div>"""
    truth = [" ".join(links), banner, lead, side_title + "\n" + "\n".join("• " + s for s in side), heading,
             "\n".join(" ".join(r) for r in [head] + rows), note]
    return doc("Market", dark, body), "\n\n".join(truth)


def figures_page(dark):
    # A dashboard's table of figures: a name column, then numbers set right.
    title = "Station readings, last 24 hours"
    tabs = ["Overview", "Readings", "Alerts", "Export"]
    head = ["Station", "Temp °C", "Rain mm", "Wind km/h", "Pressure hPa", "Humidity %"]
    rows = [
        ["Alder Ridge", "4.2", "0.0", "18", "1021.4", "71"],
        ["Brookmouth", "6.8", "2.4", "27", "1017.9", "88"],
        ["Cold Harbour", "3.1", "0.6", "35", "1015.2", "79"],
        ["Dunmore Pass", "-1.7", "5.8", "52", "1008.6", "93"],
        ["East Fen", "5.5", "0.2", "14", "1022.0", "67"],
        ["Fairlight", "7.9", "1.1", "21", "1019.3", "74"],
        ["Glen Orrin", "0.4", "9.7", "44", "1011.8", "96"],
        ["Harrow Point", "8.3", "0.0", "31", "1018.1", "69"],
    ]
    foot = "Updated 06:00 UTC. Readings marked in red are outside the expected range."
    table = "<table style='border-collapse:collapse;margin-top:12px'>"
    table += "<tr>" + "".join(
        f"<th class='rule' style='text-align:{'left' if i == 0 else 'right'};padding:6px 0 6px 30px;"
        f"border-bottom:2px solid'>{E(h)}</th>" for i, h in enumerate(head)) + "</tr>"
    for row in rows:
        table += "<tr>" + "".join(
            f"<td class='rule' style='text-align:{'left' if i == 0 else 'right'};padding:5px 0 5px 30px;"
            f"border-bottom:1px solid'>{E(c)}</td>" for i, c in enumerate(row)) + "</tr>"
    table += "</table>"
    body = f"""
    <div style='padding:18px 28px'><div style='font-size:22px;font-weight:600'>{E(title)}</div>
      <div style='display:flex;gap:24px;margin-top:10px'>{''.join(f"<a>{E(t)}</a>" for t in tabs)}</div>
      {table}<p class='muted' style='margin-top:14px'>{E(foot)}</p></div>"""
    truth = [title, " ".join(tabs), "\n".join(" ".join(r) for r in [head] + rows), foot]
    return doc("Readings", dark, body, font="Inter, sans-serif"), "\n\n".join(truth)


def dense_page(dark):
    # A reference page in small type: long paragraphs, a definition list and a note, 11 px.
    title = "Appendix C: Retention of records"
    paras = [
        "Records created in the course of ordinary business are kept for the period given in the schedule below, "
        "counted from the end of the calendar year in which the record was closed. Where two periods could apply, "
        "the longer one is used. A record that is the subject of a dispute, an audit or a request for access is "
        "not destroyed until the matter is settled, even when its period has run out.",
        "Copies made only for convenience are not records in their own right and may be destroyed as soon as they "
        "are no longer needed. Drafts are kept only when they show how a decision was reached, or when the final "
        "version refers to them. Electronic records are kept in a format that can still be read at the end of the "
        "period; a record converted to a new format keeps the date of the original.",
        "Each department names one person who keeps the schedule up to date and who confirms in writing, every "
        "January, that the records due for destruction have been destroyed. The confirmation lists the series, "
        "the years covered and the method used. Paper is shredded on site; disks are wiped twice and then broken.",
    ]
    items = [("Invoices and receipts", "seven years"), ("Contracts with suppliers", "six years after the end"),
             ("Minutes of the board", "permanently"), ("Staff files", "six years after leaving"),
             ("Visitor logs", "one year")]
    note = ("Note: the schedule does not replace legal advice. When a law sets a longer period for a particular "
            "record, that period applies and the schedule is corrected at its next review.")
    body = f"""
    <div style='max-width:900px;padding:16px 30px'><h3 style='margin:0 0 8px;font-size:15px'>{E(title)}</h3>
      {''.join(f"<p style='margin:0 0 8px'>{E(p)}</p>" for p in paras)}
      <div style='margin:6px 0 8px'>{''.join(f"<div><b>{E(a)}</b>: {E(b)}</div>" for a, b in items)}</div>
      <p class='muted' style='margin:0'>{E(note)}</p></div>"""
    truth = [title, *paras, "\n".join(f"{a}: {b}" for a, b in items), note]
    return doc("Records", dark, body, font="'DejaVu Serif', serif", size=11), "\n\n".join(truth)


def player_page(dark):
    # A desktop app drawn as a page: a title bar centred over it, a library list at the side, a track list.
    title = "Tidewater Player"
    side_title = "Library"
    side = ["Recently added", "Artists", "Albums", "Playlists", "Podcasts"]
    album = "Northern Lights Sessions"
    by = "The Harbour Quartet · 2025 · 8 songs"
    tracks = [("1", "Open Water", "4:12"), ("2", "Lanterns", "3:47"), ("3", "Slow Tide", "5:03"),
              ("4", "Morning Ferry", "3:29"), ("5", "Salt and Cedar", "4:51"), ("6", "The Long Pier", "6:18")]
    rows = "".join(
        f"<div class='rule' style='display:flex;gap:18px;padding:7px 0;border-bottom:1px solid'>"
        f"<span class='muted' style='width:20px'>{n}</span><span style='flex:1'>{E(t)}</span>"
        f"<span class='muted'>{d}</span></div>" for n, t, d in tracks)
    body = f"""
    <div class='panel rule' style='text-align:center;padding:8px;border-bottom:1px solid;font-weight:600'>{E(title)}</div>
    <div style='display:flex'>
      <div class='panel' style='width:200px;padding:30px 18px;min-height:560px'>
        <div class='muted' style='font-size:12px;margin-bottom:8px'>{E(side_title)}</div>
        {''.join(f"<div style='padding:6px 0'>{E(s)}</div>" for s in side)}</div>
      <div style='flex:1;padding:18px 30px;max-width:620px'>
        <div style='font-size:24px;font-weight:600'>{E(album)}</div><div class='muted'>{E(by)}</div>
        <div style='margin-top:14px'>{rows}</div></div></div>"""
    truth = [title, side_title + "\n" + "\n".join(side), album, by, "\n".join(" ".join(t) for t in tracks)]
    return doc(title, dark, body, font="Inter, sans-serif"), "\n\n".join(truth)


def chat_page(dark):
    # A conversation: bubbles on both sides, each with its time under it, a list of chats at the side.
    people = ["Team lunch", "Priya Raman", "Build alerts", "Tomas Eberle"]
    name = "Priya Raman"
    said = [
        (False, "Are you still at the office?", "17:02"),
        (True, "Yes, leaving in ten minutes", "17:03"),
        (False, "Could you bring the spare charger from my desk?", "17:03"),
        (True, "Sure, the white one or the black one?", "17:05"),
        (False, "The white one, it is in the top drawer", "17:05"),
        (True, "Got it. See you at the station", "17:07"),
    ]
    bubble_in, bubble_out = ("#2b2e34", "#2f5fb3") if dark else ("#eceef1", "#1a5fd0")
    text_out = "#ffffff"
    msgs = "".join(
        f"<div style='display:flex;flex-direction:column;align-items:{'flex-end' if mine else 'flex-start'};margin:8px 0'>"
        f"<div style='background:{bubble_out if mine else bubble_in};{'color:' + text_out if mine else ''};"
        f"padding:8px 12px;border-radius:14px;max-width:420px'>{E(t)}</div>"
        f"<div class='muted' style='font-size:11px;margin-top:2px'>{w}</div></div>" for mine, t, w in said)
    body = f"""
    <div style='display:flex;min-height:100vh'>
      <div class='panel' style='width:200px;padding:16px'>{''.join(f"<div style='padding:8px 4px'>{E(p)}</div>" for p in people)}</div>
      <div style='flex:1;padding:12px 28px;max-width:760px'><div style='font-weight:600;font-size:16px;margin-bottom:8px'>{E(name)}</div>
        {msgs}<div style='margin-top:14px'><input value='Write a message' size='50'></div></div></div>"""
    truth = ["\n".join(people), name, *[f"{t}\n{w}" for _, t, w in said], "Write a message"]
    return doc("Chat", dark, body), "\n\n".join(truth)


def timetable_page(dark, sidebar=False):
    # A timetable as most pages draw one: a rule round every cell. With a sidebar of sections beside it.
    title = "Spring workshops"
    lead = "All workshops take place in the glasshouse and last about an hour."
    side_title = "Garden centre"
    side = ["Opening hours", "Plants", "Workshops", "Gift cards", "Find us"]
    head = ["Time", "Monday", "Wednesday", "Saturday"]
    rows = [
        ["09:00", "Tomato seedlings", "Pruning roses", "Seed swap"],
        ["11:00", "Organic compost", "Soil testing", "Herb walk"],
        ["14:00", "Bee keeping", "Rain barrels", "Tool repair"],
        ["16:00", "Cider pressing", "Hedge laying", "Open garden"],
    ]
    note = "Places are free, but please book at the till."
    # In the text's own colour, collapsed into one grid beside the sidebar and cell by cell without it.
    table = f"<table style='border-collapse:{'collapse' if sidebar else 'separate'};margin:12px 0'>"
    table += "<tr>" + "".join(f"<th style='text-align:left;padding:4px 10px;border:1px solid'>{E(h)}</th>"
                              for h in head) + "</tr>"
    for row in rows:
        table += "<tr>" + "".join(f"<td style='padding:4px 10px;border:1px solid'>{E(c)}</td>" for c in row) + "</tr>"
    table += "</table>"
    main = (f"<h1 style='font-size:24px;margin:0 0 8px'>{E(title)}</h1><div>{E(lead)}</div>{table}"
            f"<div class='muted'>{E(note)}</div>")
    if sidebar:
        body = f"""
        <div style='display:flex;min-height:100vh'>
          <div class='panel' style='width:200px;padding:20px 18px'><b>{E(side_title)}</b>
            {''.join(f"<div style='padding:6px 0'><a>{E(s)}</a></div>" for s in side)}</div>
          <div style='flex:1;padding:20px 30px'>{main}</div></div>"""
    else:
        body = f"<div style='padding:20px 30px'>{main}</div>"
    truth = ([side_title + "\n" + "\n".join(side)] if sidebar else []) + [
        title, lead, "\n".join(" ".join(r) for r in [head] + rows), note]
    return doc("Timetable", dark, body), "\n\n".join(truth)


def guide_page(dark):
    # A manual's page: a long list of its chapters beside the article, whose headings stand among its paragraphs.
    nav_title = "User guide"
    nav = ["Introduction", "Installing", "Your first map", "Layers", "Styles", "Labels", "Printing", "Sharing maps",
           "Keyboard shortcuts", "Frequently asked questions", "Release notes"]
    title = "Working with layers"
    parts = [
        (None, ["A map is built from layers stacked on top of each other. The layer at the top of the list is drawn "
                "last, so it covers the layers under it wherever they overlap.",
                "Each layer has its own data source, style and labels. Hiding a layer does not remove it; its "
                "settings are kept until you show it again."]),
        ("Adding a layer", ["Choose Add Layer in the Map menu and pick a file or a web service. Shapefiles, "
                            "GeoJSON and GeoPackage files can be opened directly; a service needs its address."]),
        ("Changing the order", ["Drag a layer up or down in the list to change the order in which layers are "
                                "drawn. Labels are always drawn above every layer, whatever its place."]),
    ]
    article = f"<h1 style='font-size:28px;margin:4px 0 12px'>{E(title)}</h1>"
    truth_parts = [title]
    for heading, paras in parts:
        if heading:
            article += f"<h2 style='font-size:20px;margin:20px 0 6px'>{E(heading)}</h2>"
            truth_parts.append(heading)
        article += "".join(f"<p>{E(p)}</p>" for p in paras)
        truth_parts.extend(paras)
    body = f"""
    <div style='display:flex;min-height:100vh'>
      <div class='panel' style='width:240px;padding:22px 22px'>
        <div class='muted' style='font-size:12px;margin-bottom:8px'>{E(nav_title)}</div>
        {''.join(f"<div style='padding:4px 0'><a>{E(n)}</a></div>" for n in nav)}</div>
      <div style='flex:1;padding:18px 44px;max-width:760px'>{article}</div></div>"""
    truth = [nav_title + "\n" + "\n".join(nav), *truth_parts]
    return doc("Guide", dark, body), "\n\n".join(truth)


def shop_page(dark):
    # A shop's category page in a narrow window: its departments at the side, a heading, a paragraph and a
    # list of goods with prices.
    side = ["Departments", "Hand tools", "Power tools", "Garden", "Paint", "Timber", "Fixings", "Sale"]
    title = "Hand tools"
    intro = ("Saws, planes and chisels from makers who still forge their own steel. Every tool comes with a "
             "five-year guarantee and free sharpening in the first year.")
    goods = [("Tenon saw, 12 inch", "€38.00"), ("Block plane", "€64.50"), ("Bevel-edge chisels, set of four", "€89.00"),
             ("Marking gauge", "€21.90"), ("Claw hammer, 16 oz", "€27.40")]
    rows = "".join(f"<div class='rule' style='display:flex;padding:8px 0;border-bottom:1px solid'>"
                   f"<span style='flex:1'>{E(n)}</span><b>{E(p)}</b></div>" for n, p in goods)
    body = f"""
    <div style='display:flex;min-height:100vh'>
      <div class='panel' style='width:170px;padding:18px 16px'><b>{E(side[0])}</b>
        {''.join(f"<div style='padding:5px 0'><a>{E(s)}</a></div>" for s in side[1:])}</div>
      <div style='flex:1;padding:16px 26px'><h1 style='font-size:24px;margin:2px 0 8px'>{E(title)}</h1>
        <p>{E(intro)}</p><div style='margin-top:12px'>{rows}</div></div></div>"""
    truth = ["\n".join(side), title, intro, "\n".join(f"{n} {p}" for n, p in goods)]
    return doc("Shop", dark, body, font="Inter, sans-serif"), "\n\n".join(truth)


def ruled_docs_page(dark):
    # A reference page in three columns, each parted from the next by a rule down the whole page: the
    # chapters, the article with a framed code block and a framed table of options, and its own contents.
    brand = "Quillstack"
    nav = ["Overview", "Install", "Command line", "Options", "Plugins", "Templates", "Publishing", "Changelog"]
    title = "Command line"
    paras = [
        "The quill command builds a site from the folder it is run in. Without arguments it reads quill.yml "
        "and writes the pages to the public folder.",
        "Options given on the command line win over the same keys in the settings file.",
    ]
    code = ["quill build --drafts", "quill serve --port 4100", "quill check links"]
    head = ["Option", "Default", "Meaning"]
    rows = [["--drafts", "off", "Include pages marked as drafts"],
            ["--port", "4000", "Port of the preview server"],
            ["--quiet", "off", "Print errors only"]]
    after = "Run quill help with the name of a command for its own options."
    onpage = ["On this page", "Building", "Serving", "Options", "Checking links"]
    foot = "Last changed on 3 March. Found a mistake? Edit this page."
    cell = "style='text-align:left;padding:5px 12px;border:1px solid'"
    table = "<table class='rule' style='border-collapse:collapse;margin:14px 0'><tr>" + "".join(
        f"<th class='rule' {cell}>{E(h)}</th>" for h in head) + "</tr>" + "".join(
        "<tr>" + "".join(f"<td class='rule' {cell}>{E(c)}</td>" for c in row) + "</tr>" for row in rows) + "</table>"
    body = f"""
    <div class='rule' style='padding:12px 24px;border-bottom:1px solid'><b style='font-size:17px'>{E(brand)}</b></div>
    <div style='display:flex;min-height:calc(100vh - 96px)'>
      <div class='rule' style='width:200px;padding:18px 20px;border-right:1px solid'>
        {''.join(f"<div style='padding:5px 0'><a>{E(n)}</a></div>" for n in nav)}</div>
      <div class='rule' style='flex:1;padding:18px 36px;border-right:1px solid'>
        <h1 style='font-size:26px;margin:4px 0 12px'>{E(title)}</h1>
        {''.join(f"<p>{E(p)}</p>" for p in paras)}
        <pre class='rule' style='border:1px solid'>{E(chr(10).join(code))}</pre>
        {table}<p>{E(after)}</p></div>
      <div style='width:190px;padding:22px 20px'>
        <div style='font-weight:bold;margin-bottom:6px'>{E(onpage[0])}</div>
        {''.join(f"<div style='padding:4px 0'><a>{E(o)}</a></div>" for o in onpage[1:])}</div>
    </div>
    <div class='rule muted' style='padding:12px 24px;border-top:1px solid'>{E(foot)}</div>"""
    truth = [brand, "\n".join(nav), title, *paras, "\n".join(code), "\n".join(" ".join(r) for r in [head] + rows),
             after, "\n".join(onpage), foot]
    # Rules as dark as many themes draw them, darker than the set's usual hairlines.
    extra = ".rule { border-color: %s !important; }" % ("#6b717a" if dark else "#9aa1a9")
    return doc("Command line", dark, body, extra=extra), "\n\n".join(truth)


def hours_page(dark):
    # Opening hours in a table as wide as the page and drawn without any rule, some of its remarks left empty.
    title = "Opening hours"
    lead = "The library is open every day except public holidays."
    head = ["Day", "Opens", "Closes", "Notes"]
    rows = [["Monday", "09:00", "18:00", "Reading room from 10:00"],
            ["Tuesday", "09:00", "18:00", ""],
            ["Wednesday", "09:00", "20:00", "Late opening"],
            ["Thursday", "09:00", "18:00", ""],
            ["Friday", "09:00", "17:00", "Archive closed"],
            ["Saturday", "10:00", "16:00", "Children's hour at 11:00"],
            ["Sunday", "12:00", "16:00", ""]]
    table = "<table style='width:100%;border-collapse:collapse;margin:14px 0'><tr>" + "".join(
        f"<th style='text-align:left;padding:8px 0'>{E(h)}</th>" for h in head) + "</tr>" + "".join(
        "<tr>" + "".join(f"<td style='padding:8px 0'>{E(c)}</td>" for c in row) + "</tr>"
        for row in rows) + "</table>"
    body = f"<div style='padding:24px 36px'><h1 style='font-size:26px;margin:0 0 8px'>{E(title)}</h1><div>{E(lead)}</div>{table}</div>"
    truth = [title, lead, "\n".join(" ".join(c for c in r if c) for r in [head] + rows)]
    return doc("Hours", dark, body), "\n\n".join(truth)


def plans_page(dark):
    # A price list as a grid of cells as wide as the page, a rule round each, on the page's own ground.
    title = "Plans and prices"
    head = ["Plan", "Storage", "Members", "Backups", "Support", "Price a month"]
    rows = [["Starter", "10 GB", "3", "Weekly", "Email", "4.00"], ["Team", "200 GB", "25", "Daily", "Email", "19.00"],
            ["Studio", "1 TB", "100", "Hourly", "Phone", "49.00"], ["Archive", "5 TB", "10", "Daily", "Email", "29.00"]]
    cell = "style='text-align:left;padding:10px 14px;border:1px solid #8a8f98'"
    table = "<table style='width:100%;border-collapse:collapse;margin:14px 0'><tr>" + "".join(
        f"<th {cell}>{E(h)}</th>" for h in head) + "</tr>" + "".join(
        "<tr>" + "".join(f"<td {cell}>{E(c)}</td>" for c in row) + "</tr>" for row in rows) + "</table>"
    body = f"<div style='padding:24px 36px'><h1 style='font-size:24px;margin:0 0 8px'>{E(title)}</h1>{table}</div>"
    truth = [title, "\n".join(" ".join(r) for r in [head] + rows)]
    return doc("Plans", dark, body, font="Inter, sans-serif"), "\n\n".join(truth)


PAGES = {
    "docs": docs_page,
    "settings": settings_page,
    "mail": mail_page,
    "forum": forum_page,
    "report": report_page,
    "rtl": rtl_page,
    "help-de": german_help,
    "settings-fr": lambda dark: settings_page(dark, "fr"),
    "market": market_page,
    "figures": figures_page,
    "dense": dense_page,
    "player": player_page,
    "chat": chat_page,
    "timetable": timetable_page,
    "timetable-side": lambda dark: timetable_page(dark, True),
    "guide": guide_page,
    "shop": shop_page,
    "docs-ruled": ruled_docs_page,
    "hours": hours_page,
    "plans": plans_page,
}
