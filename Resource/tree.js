/* Folder tree of the exported page: a click on a folder's name opens or closes it; the two
   buttons open or close them all. Every folder starts open, so the page reads the same where
   script does not run. ES5, no outside resources. */

(function () {
    var CLOSED = 'clsClosed';

    function hasClass(el, name) {
        return (' ' + (el.className || '') + ' ').indexOf(' ' + name + ' ') >= 0;
    }

    function setClosed(li, closed) {
        var kept = (' ' + (li.className || '') + ' ').replace(' ' + CLOSED + ' ', ' ');
        kept = kept.replace(/^\s+|\s+$/g, '');
        li.className = closed ? (kept ? kept + ' ' : '') + CLOSED : kept;
    }

    function isFolder(el) {
        return el && el.nodeType === 1 && hasClass(el, 'clsHasKids');
    }

    // The page is XHTML, where tag names are case sensitive: 'UL' alone would find nothing there.
    // Closing or opening a folder twice does no harm, so the two lookups need no merging.
    function listsByTag(tag) {
        var found = [], names = [String(tag).toLowerCase(), String(tag).toUpperCase()];
        for (var n = 0; n < names.length; n++) {
            var lists = document.getElementsByTagName(names[n]);
            for (var i = 0; i < lists.length; i++) {
                found.push(lists[i]);
            }
        }
        return found;
    }

    function setAll(tag, closed) {
        var lists = listsByTag(tag);
        for (var i = 0; i < lists.length; i++) {
            if (isFolder(lists[i].parentNode)) {
                setClosed(lists[i].parentNode, closed);
            }
        }
        return false;
    }

    window.ShowAll = function (tag) {
        return setAll(tag || 'ul', false);
    };

    window.HideAll = function (tag) {
        return setAll(tag || 'ul', true);
    };

    // Delegated on the document, so it works although this script runs before the tree exists.
    function onClick(event) {
        var el = event ? event.target || event.srcElement : null;
        while (el && el.nodeType !== 1) {
            el = el.parentNode;
        }
        if (el && String(el.nodeName).toLowerCase() === 'span' && isFolder(el.parentNode)) {
            setClosed(el.parentNode, !hasClass(el.parentNode, CLOSED));
        }
    }

    if (document.addEventListener) {
        document.addEventListener('click', onClick, false);
    } else if (document.attachEvent) {
        document.attachEvent('onclick', function () {
            onClick(window.event);
        });
    }

    var root = document.documentElement;
    if (root && !hasClass(root, 'clsScript')) {
        root.className = (root.className ? root.className + ' ' : '') + 'clsScript';
    }
})();
